// Shows which minimum-system requirement failed; without a failure it moves
// on at once, showing meanwhile the frame and banner every page has, not
// the failure's heading and button.

var MinSys = {
  failed: function () {
    var flags = getProp("minSysFailed").split("|");
    var failed = [];
    for (var i = 0; i < flags.length; i++) {
      if (flags[i] !== "") failed.push(flags[i]);
    }
    return failed;
  },

  show: function (failed) {
    var $list = $("#requirements").empty();
    for (var i = 0; i < failed.length; i++) {
      $("<li></li>").text(Lang.text("minsys" + failed[i]) || failed[i]).appendTo($list);
    }
  }
};

$(function () {
  var failed = MinSys.failed();
  Page.init();
  if (failed.length === 0) {
    $("#content, #footer").addClass("hidden");
    Navigator.nextPage();
    return;
  }
  MinSys.show(failed);
  appExternal.setInstallStatus(Config_Status.ENVIRONMENT_NOT_MEET | 0);
  $("#btn-help").on("click", function () {
    var opened = appExternal.openPage(fillTemplate(Feature_HelpUrl, { lang: Lang.urlCode(Lang.code()) }));
    return opened && false;
  });
  $("#btn-exit").on("click", function () {
    Navigator.close();
  });
});
