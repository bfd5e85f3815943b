// Where to download to, how much room that needs, and whether to install
// afterwards.

var Download = {
  // Sizes the list does not give are asked of the server before showing them.
  requiredBytes: function () {
    var jobs = Jobs.setJobs(ComponentList.all(), getProp("downloadPath"));
    var total = 0;
    for (var i = 0; i < jobs.length; i++) {
      var size = jobs[i].size;
      if (size === 0) {
        setProp("downloadTotal", "0");
        appExternal.initDownloadSize(jobs[i].url, jobs[i].path, true);
        size = bytesOf(getProp("downloadTotal"));
        jobs[i].file.size = size;
        if (!Config_MultiDownload) setProp("downloadSize", String(size));
      }
      total += size;
    }
    return total;
  },

  refresh: function () {
    var folder = getProp("downloadPath");
    var required = Download.requiredBytes();
    var free = freeSpaceOf(folder);
    var enough = free === 0 || required <= free;
    $("#folder").text(folder).attr("title", folder);
    $("#space-required").text(Lang.format("spaceRequired", sizeText(required)));
    $("#space-available").text(Lang.format("spaceAvailable", sizeText(free))).toggleClass("short", !enough);
    $("#btn-next").prop("disabled", !enough);
  }
};

$(function () {
  Page.init();
  $("#download-only").prop("checked", isTrue(getProp("isDownloadOnly")));
  Download.refresh();
  $("#btn-browse").on("click", function () {
    var folder = appExternal.selectFolder(getProp("downloadPath"));
    if (isSafeFolder(folder)) {
      setProp("downloadPath", String(folder).replace(/\\+$/, ""));
      Download.refresh();
    }
  });
  $("#btn-back").on("click", function () {
    Navigator.previousPage();
  });
  $("#btn-next").on("click", function () {
    setProp("isDownloadOnly", boolText($("#download-only").prop("checked")));
    Navigator.nextPage();
  });
});
