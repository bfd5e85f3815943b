// Where to install. The folder goes to the Windows Installer packages of the
// components that name a property for it (`installDirProperty`).
var InstallFolder = {
  current: function () {
    var folder = getProp("installPath");
    return isSafeFolder(folder) ? folder : Feature_DefaultInstallFolder;
  },

  show: function (folder) {
    $("#folder").text(folder).attr("title", folder);
    var readOnly = appExternal.isDestReadOnly(folder.substring(0, 3));
    $("#folder-error").text(readOnly ? Lang.text("volumeReadOnly") : "").toggleClass("hidden", !readOnly);
    $("#btn-next").prop("disabled", readOnly);
  }
};

$(function () {
  Page.init();
  var folder = InstallFolder.current();
  InstallFolder.show(folder);
  $("#btn-browse").on("click", function () {
    var chosen = appExternal.selectFolder(folder);
    if (isSafeFolder(chosen)) {
      folder = String(chosen).replace(/\\+$/, "");
      InstallFolder.show(folder);
    }
  });
  $("#btn-back").on("click", function () {
    Navigator.previousPage();
  });
  $("#btn-next").on("click", function () {
    setProp("installPath", folder);
    Navigator.nextPage();
  });
});
