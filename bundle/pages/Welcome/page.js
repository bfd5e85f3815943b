// Greets the user, offers the languages, and starts the setup.
$(function () {
  Page.init();
  Lang.bindSelector("#language", ComponentList.updateDownloadUrl);
  $("#btn-cancel").on("click", function () {
    Page.cancelRun();
  });
  $("#btn-next").on("click", function () {
    Navigator.nextPage();
  });
});
