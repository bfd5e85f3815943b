// Asks for a restart: one that an installer needs, or one that an earlier
// install left pending.
$(function () {
  Page.init();
  var reason = getProp("restartReason");
  $("#restart-text").text(Lang.text(reason === "pending" ? "restartPendingText" : "restartText"));
  if (reason === "pending") appExternal.setInstallStatus(Config_Status.ENVIRONMENT_NOT_MEET | 0);
  $("#btn-now").on("click", function () {
    var removed = appExternal.removeRebootKey();
    setProp("rebootKeyRemoved", boolText(removed === true));
    appExternal.restartSystemNoMsg();
  });
  $("#btn-later").on("click", function () {
    Navigator.close();
  });
});
