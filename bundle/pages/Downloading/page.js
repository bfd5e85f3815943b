// Downloads every file of the job list, one after the other, with one
// progress bar per component group.

var Downloading = {
  jobs: [],
  index: 0,
  cancelled: false,
  groups: {},

  isResumable: function (job) {
    if (Feature_DownloadMode === "Simple") return false;
    if (Feature_DownloadMode === "Resumable") return true;
    return job.file.isResumeDownload === undefined ? true : job.file.isResumeDownload === true;
  },

  // One bar per group, named after its first component.
  buildProgress: function (jobs) {
    var $root = $("#progress").empty();
    Downloading.groups = {};
    for (var i = 0; i < jobs.length; i++) {
      var id = String(jobs[i].component.group);
      var group = Downloading.groups[id];
      if (!group) {
        var $group = $('<div class="progress-group"></div>').appendTo($root);
        $('<div class="progress-name"></div>').data("component", jobs[i].component).appendTo($group);
        var $percent = $('<div class="progress-percent"></div>').appendTo($group);
        var $bar = $("<div></div>").appendTo($group);
        var $detail = $('<div class="progress-detail"></div>').appendTo($group);
        group = { count: 0, done: 0, bar: new InstallProgress($bar, $percent), $detail: $detail };
        Downloading.groups[id] = group;
      }
      group.count++;
    }
  },

  // Texts that follow the language: component names and the billboard.
  relabel: function () {
    $("#progress .progress-name").each(function () {
      $(this).text(ComponentList.displayName($(this).data("component")));
    });
    BillboardController.show(BillboardController.index);
  },

  groupOf: function (job) {
    return Downloading.groups[String(job.component.group)];
  },

  showProgress: function (job, total, current) {
    var group = Downloading.groupOf(job);
    if (!group) return;
    var share = total > 0 ? Math.min(current / total, 1) : 0;
    group.bar.setPercent(Math.floor(((group.done + share) * 100) / group.count));
    if (total > 1) group.$detail.text(Lang.format("downloadedOf", sizeText(current), sizeText(total)));
  },

  start: function () {
    var folder = getProp("downloadPath");
    Downloading.jobs = Jobs.setJobs(ComponentList.all(), folder);
    Downloading.index = 0;
    Downloading.buildProgress(Downloading.jobs);
    Downloading.relabel();
    if (Downloading.jobs.length === 0) {
      // Reported like the result of a download, so it takes the same way.
      var empty = Jobs.emptyResult();
      window.setTimeout(function () {
        Downloading.onResult(empty, 0, 0);
      }, 0);
      return;
    }
    var free = freeSpaceOf(folder);
    if (free > 0 && Jobs.totalSize() > free) {
      Downloading.fail(Config_ErrorHandle.DiskFull);
      return;
    }
    Downloading.downloadCurrent();
  },

  downloadCurrent: function () {
    if (Downloading.cancelled) {
      Page.cancelRun();
      return;
    }
    var job = Downloading.jobs[Downloading.index];
    if (!appExternal.isFileExists(job.folder) && !appExternal.createDirectory(job.folder)) {
      Downloading.fail(Config_ErrorHandle.Failure);
      return;
    }
    var crc = Feature_IsCrcCheck ? job.crc : "";
    // Read by the download worker: more sources for a block-verified download.
    setProp("downloadMirrors", job.mirrors.join(" "));
    setProp("downloadConnections", String(Feature_DownloadConnections));
    appExternal.download(job.url, job.path, crc, Feature_IsSecureDownload === true, Downloading.isResumable(job), Downloading.onResult);
  },

  // The callback of every download: progress while Running, then its result.
  onResult: function (result, total, current) {
    var job = Downloading.jobs[Downloading.index];
    if (result === Config_ErrorHandle.Running) {
      if (job) Downloading.showProgress(job, total, current);
      return;
    }
    // A finished file is as large as what arrived, whatever size the list
    // announced or the last progress report said: the bar reaches 100% beside it.
    var group = job && Downloading.groupOf(job);
    if (result === Config_ErrorHandle.NoError && group && current > 0) {
      group.$detail.text(Lang.format("downloadedOf", sizeText(current), sizeText(current)));
    }
    window.setTimeout(function () {
      Downloading.finishJob(result);
    }, 0);
  },

  finishJob: function (result) {
    if (result === Config_ErrorHandle.Abort && Downloading.cancelled) {
      Page.cancelRun();
      return;
    }
    if (result !== Config_ErrorHandle.NoError) {
      Downloading.fail(result);
      return;
    }
    var job = Downloading.jobs[Downloading.index];
    var group = Downloading.groupOf(job);
    group.done++;
    group.bar.setPercent(Math.floor((group.done * 100) / group.count));
    Downloading.index++;
    if (Downloading.index < Downloading.jobs.length) Downloading.downloadCurrent();
    else Downloading.allDone();
  },

  // A failed file ends the setup, or, where components are not essential,
  // drops its component and goes on.
  fail: function (result) {
    var job = Downloading.jobs[Downloading.index];
    if (!Config_Essential && job && result !== Config_ErrorHandle.DiskFull) {
      var failed = job.component;
      setProp(failed.name, "false");
      while (Downloading.index < Downloading.jobs.length && Downloading.jobs[Downloading.index].component === failed) Downloading.index++;
      if (Downloading.index < Downloading.jobs.length) Downloading.downloadCurrent();
      else Downloading.allDone();
      return;
    }
    if (result !== Config_ErrorHandle.HaveInstalled) appExternal.setInstallStatus(Config_Status.ERROR | 0);
    Telemetry.pageview("Downloading", result);
    Navigator.showError(result);
  },

  // Every file is here: the run has reached "downloaded". A run that ends
  // before the install settles (the window closed, a restart in between) is
  // reported at that step; the install replaces it with its own outcome.
  allDone: function () {
    setProp("Config_Status", Config_Status.DOWNLOADED);
    appExternal.setInstallStatus(Config_Status.DOWNLOADED | 0);
    if (isTrue(getProp("isDownloadOnly"))) {
      Navigator.goFinishPage();
    } else {
      Navigator.nextPage();
    }
  },

  cancel: function () {
    if (!Page.confirmCancel()) return;
    Downloading.cancelled = true;
    appExternal.stopDownload();
  }
};

$(function () {
  // After a restart in the middle of the download, the record says what to fetch.
  if (appExternal.getResumeMode() === Config_ResumeMode.DOWNLOADING && !isTrue(getProp("resumeRestored"))) {
    setProp("resumeRestored", "true");
    if (!resume()) {
      Navigator.goSpecifiedPage(Config_SequencePages[0]);
      return;
    }
  }
  Page.init();
  Page.cancelHandler = Downloading.cancel;
  Lang.bindSelector("#language", function () {
    Downloading.relabel();
  });
  $("#btn-cancel").on("click", Downloading.cancel);
  BillboardController.start(".billboard", Feature_BillboardInterval);
  Downloading.start();
});
