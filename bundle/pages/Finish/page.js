// The last page of a successful run: installed, or downloaded only.

var Finish = {
  downloadOnly: function () {
    return isTrue(getProp("isDownloadOnly"));
  },

  // The product's program, from the folder its installer registered.
  program: function () {
    var folder = appExternal.getDataFromReg(AppParams.regpath, AppParams.regkey);
    if (!isSafeFolder(folder)) return "";
    var all = ComponentList.all();
    for (var i = 0; i < all.length; i++) {
      if (all[i].program && isSafeRelativeName(all[i].program)) return joinPath(folder, all[i].program);
    }
    return joinPath(folder, "Tessary.exe");
  },

  thankYouUrl: function () {
    var template = installParams.TYP_URL || Lang.text("TYP_URL");
    return String(template).replace(/\$\{lang\}/g, Lang.urlCode(Lang.code()));
  },

  close: function () {
    if (!Finish.downloadOnly()) {
      var program = Finish.program();
      if (Feature_LaunchProduct && program !== "" && $("#launch").prop("checked") && appExternal.isFileExists(program)) {
        appExternal.startProgram(program, "");
      }
      var url = Finish.thankYouUrl();
      if (Feature_OpenThankYouPage && isWebAddress(url)) {
        var opened = appExternal.openPage(url);
        setProp("thankYouOpened", boolText(opened === true));
      }
    }
    Navigator.close();
  }
};

$(function () {
  Page.init();
  var downloadOnly = Finish.downloadOnly();
  $("#finish-title").text(Lang.text(downloadOnly ? "downloadedTitle" : "finishTitle"));
  $("#finish-text").text(downloadOnly ? Lang.format("downloadedText", getProp("downloadPath")) : Lang.text("finishText"));
  $("#launch-option").toggleClass("hidden", downloadOnly || !Feature_LaunchProduct || Finish.program() === "");
  Page.cancelHandler = Finish.close;
  $("#btn-finish").on("click", Finish.close);
});
