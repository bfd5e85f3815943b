// Installs every downloaded installer, one after the other, then runs what
// the install registered and the post-install actions.

var Installing = {
  jobs: [],
  index: 0,
  progress: null,

  // The installer's parameters: ${name} fields filled, and, for a Windows
  // Installer package of a component that names its folder property
  // (`installDirProperty`), the folder the user chose, unless the parameters
  // already set that property. Nothing is added for anyone else: a package
  // gets only what its component asks for.
  parametersOf: function (job) {
    var param = replaceParams(job.param);
    var property = job.component.installDirProperty;
    var folder = getProp("installPath");
    if (typeof property !== "string" || !/^[A-Za-z_][A-Za-z0-9_.]*$/.test(property)) return param;
    if (isSafeFolder(folder) && /\.msi$/i.test(job.path) && param.indexOf(property + "=") < 0) {
      param += " " + property + "=\"" + folder + "\"";
    }
    return param;
  },

  start: function () {
    Jobs.setJobs(ComponentList.all(), getProp("downloadPath"));
    Installing.jobs = Jobs.installers();
    Installing.index = 0;
    var $group = $('<div class="progress-group"></div>').appendTo($("#progress").empty());
    // The bar is labelled with the component being installed; the heading
    // above already says what the page does.
    $('<div class="progress-name"></div>').appendTo($group);
    var $percent = $('<div class="progress-percent"></div>').appendTo($group);
    Installing.progress = new InstallProgress($("<div></div>").appendTo($group), $percent);
    if (Installing.jobs.length === 0) {
      var empty = Jobs.emptyResult();
      window.setTimeout(function () {
        Installing.onResult(empty, 0, 0);
      }, 0);
      return;
    }
    Installing.installCurrent();
  },

  // Share of the whole bar that one installer covers.
  share: function (percent) {
    var count = Installing.jobs.length || 1;
    return Math.floor((Installing.index * 100 + percent) / count);
  },

  installCurrent: function () {
    var job = Installing.jobs[Installing.index];
    $("#progress .progress-name").text(ComponentList.displayName(job.component));
    var seconds = job.component.estimatedTime > 0 ? job.component.estimatedTime | 0 : 0;
    // The bar follows the estimated time where the installer reports less.
    Installing.progress.startTimed(seconds, Installing.share(0), Installing.share(95));
    appExternal.install(stubParams.shortcut, job.path, Installing.parametersOf(job), seconds, Installing.onResult);
  },

  onResult: function (result, total, current) {
    if (result === Config_ErrorHandle.Running) {
      if (total > 1) Installing.progress.setPercent(Installing.share(InstallProgress.percentOf(current, total)));
      return;
    }
    Installing.progress.stopTimed();
    window.setTimeout(function () {
      Installing.finishJob(result);
    }, 0);
  },

  finishJob: function (result) {
    var job = Installing.jobs[Installing.index];
    if (result === Config_ErrorHandle.NoError || result === Config_ErrorHandle.Reboot) {
      updateComponents(job.component.name);
      Installing.index++;
      Installing.progress.setPercent(Installing.share(0));
      var more = Installing.index < Installing.jobs.length;
      if (result === Config_ErrorHandle.Reboot) {
        Installing.restart(more);
        return;
      }
      if (more) Installing.installCurrent();
      else Installing.allDone();
      return;
    }
    if (!Config_Essential && job) {
      Installing.index++;
      if (Installing.index < Installing.jobs.length) Installing.installCurrent();
      else Installing.allDone();
      return;
    }
    if (result === Config_ErrorHandle.Cancelled) appExternal.setInstallStatus(Config_Status.CANCEL | 0);
    else if (result !== Config_ErrorHandle.HaveInstalled) appExternal.setInstallStatus(Config_Status.ERROR | 0);
    Telemetry.pageview("Installing", result);
    Navigator.showError(result);
  },

  // An installer asked for a restart: with more to install, the setup comes
  // back after it; otherwise the product is installed.
  restart: function (more) {
    if (more) {
      prepareResume("INSTALLING");
    } else {
      Installing.completed();
    }
    setProp("restartReason", more ? "resume" : "installed");
    Navigator.goRestartPage();
  },

  completed: function () {
    Installing.progress.finish();
    appExternal.setInstallStatus(Config_Status.COMPLETED | 0);
    setProp("Config_Status", Config_Status.COMPLETED);
    appExternal.startRegApps();
    runPostInstallActions();
    undoPrepareResume();
    Telemetry.pageview("Finish", Config_ErrorHandle.NoError);
  },

  allDone: function () {
    Installing.completed();
    Navigator.goFinishPage();
  }
};

$(function () {
  if (appExternal.getResumeMode() === Config_ResumeMode.INSTALLING && !isTrue(getProp("resumeRestored"))) {
    setProp("resumeRestored", "true");
    if (!resume()) {
      Navigator.goSpecifiedPage(Config_SequencePages[0]);
      return;
    }
  }
  Page.init();
  // An installer cannot be stopped half way: the window only minimizes.
  $("#btn-close").addClass("hidden");
  BillboardController.start(".billboard", Feature_BillboardInterval);
  Installing.start();
});
