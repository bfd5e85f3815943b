// Shows why the setup stopped, with its report code and a help page.

var ErrorPage = {
  result: function () {
    var result = parseInt(getProp("errorResult"), 10);
    return isNaN(result) ? Config_ErrorHandle.UnknowError : result;
  },

  helpUrl: function () {
    return fillTemplate(UrlParams.url, {
      platformID: isTrue(getProp("isDownload64")) ? UrlParams.platformIDx64 : UrlParams.platformIDx86,
      lang: Lang.urlCode(Lang.code()),
      failedAt: getProp("IM_ErrorCode")
    });
  }
};

$(function () {
  Page.init();
  var message = getProp("errorMessage") || getErrorText(ErrorPage.result());
  $("#error-message").text(message);
  var code = getProp("IM_ErrorCode");
  $("#error-code").text(code ? Lang.format("errorCode", code) : "");
  if ($.inArray(ErrorPage.result(), Feature_ContinueShortcutResults) >= 0) {
    appExternal.manageDesktopShortcut(stubParams.shortcut, true);
  }
  $("#btn-help").on("click", function () {
    var opened = appExternal.openPage(ErrorPage.helpUrl());
    return opened && false;
  });
  $("#btn-close-page").on("click", function () {
    Navigator.close();
  });
});
