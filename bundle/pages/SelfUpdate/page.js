// Replaces this setup with a newer one when the server has one; otherwise
// goes on as the start page would.

var SelfUpdate = {
  progress: null,

  state: function (name, textKey) {
    $("#picture").attr("class", "update-picture update-" + name);
    $("#state").text(Lang.text(textKey));
  },

  onResult: function (result, total, current) {
    if (result === Config_ErrorHandle.Running) {
      SelfUpdate.progress.set(current, total);
      return;
    }
    if (result === Config_ErrorHandle.NoError) {
      // The new setup starts once this one has closed.
      SelfUpdate.progress.finish();
      SelfUpdate.state("done", "selfupdateDone");
      window.setTimeout(Navigator.close, 800);
      return;
    }
    SelfUpdate.state("failed", "updateErrorText");
    $("#progress").addClass("hidden");
    $("#btn-close-page").removeClass("hidden");
  },

  run: function () {
    var url = String(installParams.UPDATE_STUB_URL);
    if (!isWebAddress(url) || !appExternal.isNeedSelfUpdate(url)) {
      Startup.sizeWindow();
      Startup.goByResumeMode();
      return;
    }
    SelfUpdate.progress = new InstallProgress($("<div></div>").appendTo("#progress"));
    appExternal.selfUpdate(url, SelfUpdate.onResult);
  }
};

$(function () {
  Page.init();
  $("#btn-close-page").addClass("hidden").on("click", function () {
    Navigator.close();
  });
  window.setTimeout(SelfUpdate.run, 30);
});
