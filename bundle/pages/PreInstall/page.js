// The last choices before the download: 32- or 64-bit (where the user may
// choose) and the patch (where offered).
$(function () {
  var canChoose = Config_OSArchitectureSelection === "UserOption" && getProp("osbits") === "64";
  var patchOffered = Config_PatchOption === "UserOption";
  if (!canChoose && !patchOffered) {
    Navigator.nextPage();
    return;
  }
  Page.init();
  $("#architecture").toggleClass("hidden", !canChoose);
  $(ComponentList.is64() ? "#arch-64" : "#arch-32").prop("checked", true);
  $("#patch-option").toggleClass("hidden", !patchOffered);
  $("#patch").prop("checked", isTrue(getProp("installPatch")));

  $("#btn-back").on("click", function () {
    Navigator.previousPage();
  });
  $("#btn-next").on("click", function () {
    if (canChoose) setProp("isDownload64", boolText($("#arch-64").prop("checked")));
    if (patchOffered) setProp("installPatch", boolText($("#patch").prop("checked")));
    ComponentList.updateDownloadUrl();
    Navigator.nextPage();
  });
});
