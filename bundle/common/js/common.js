// Shared logic of the setup pages: navigation, texts, progress, the job list,
// the resume record and what runs after an install. Pages load it after
// external.js, jQuery and the configuration scripts.
//
// Calls to appExternal follow the native method table exactly: integers are
// passed as whole numbers (`| 0`), booleans as true/false, and the value of
// every method that answers is used, since the host calls a method with
// arguments as a value read only when its value is taken.

// ---- Small helpers

function hasFlag(value, flag) {
  return (value & flag) === flag;
}

function isTrue(text) {
  return text === "true";
}

function boolText(flag) {
  return flag ? "true" : "false";
}

function getProp(name) {
  var value = appExternal.getProperty(name);
  return value === undefined || value === null ? "" : String(value);
}

function setProp(name, value) {
  appExternal.setProperty(name, String(value));
}

// Replaces every ${name} by the page property of that name. The values are
// inserted as they are; they are not scanned again.
function replaceParams(text) {
  return String(text).replace(/\$\{([A-Za-z0-9_]+)\}/g, function (token, name) {
    return getProp(name);
  });
}

// Fills the <name> fields of an address or report template: `values` first,
// then UrlParams. Values are URL-encoded; unknown fields become empty.
function fillTemplate(template, values) {
  return String(template).replace(/<([A-Za-z0-9_]+)>/g, function (field, name) {
    var value = values && values.hasOwnProperty(name) ? values[name] : UrlParams.hasOwnProperty(name) ? UrlParams[name] : "";
    return encodeURIComponent(value === undefined || value === null ? "" : String(value));
  });
}

// Windows paths: the folder of a path, and a child of a folder.
function parentFolder(path) {
  var cut = path.lastIndexOf("\\");
  return cut > 0 ? path.substring(0, cut) : "";
}

function joinPath(folder, name) {
  folder = String(folder).replace(/\\+$/, "");
  return folder + "\\" + name;
}

// An absolute local folder (drive letter) without ".." anywhere.
function isSafeFolder(path) {
  return /^[A-Za-z]:\\/.test(path) && !/(^|\\)\.\.(\\|$)/.test(path) && !/[<>"|?*]/.test(path.substring(2));
}

// Names Windows opens as a device in any folder, with any extension.
var DEVICE_NAME = /^(con|prn|aux|nul|conin\$|conout\$|com[1-9]|lpt[1-9])$/i;

// A relative file name of a component list: "/" separated, no drive, no
// leading separator, no control character, no empty component, none ending
// in a dot or a blank (Windows drops those: ". ." is "..", "x." is "x") and
// no device name.
function isSafeRelativeName(name) {
  if (typeof name !== "string" || name === "" || name.length > 200) return false;
  if (/[\x00-\x1f:<>"|?*\\]/.test(name) || name.charAt(0) === "/") return false;
  var parts = name.split("/");
  for (var i = 0; i < parts.length; i++) {
    var part = parts[i];
    if (part === "" || /[. ]$/.test(part)) return false;
    if (DEVICE_NAME.test(part.split(".")[0].replace(/ +$/, ""))) return false;
  }
  return true;
}

function isWebAddress(url) {
  return typeof url === "string" && /^https?:\/\/[^\s"]+$/i.test(url);
}

// Decimal text of a byte count as the native side returns it.
function bytesOf(text) {
  var value = parseFloat(text);
  return isFinite(value) && value > 0 ? value : 0;
}

// A byte count as the user reads it: megabytes, or gigabytes from 1000 MB.
function sizeText(bytes) {
  var mb = bytes / 1048576;
  if (mb >= 1000) return Lang.format("sizeGB", (mb / 1024).toFixed(1));
  return Lang.format("sizeMB", mb >= 10 ? Math.round(mb) : mb.toFixed(1));
}

// Free bytes on the drive of a folder ("C:\\...").
function freeSpaceOf(folder) {
  return bytesOf(appExternal.getDiskAvailableSpace(String(folder).substring(0, 3)));
}

// ---- Languages

var Lang = {
  // The current language code (the native side keeps it in "lang").
  code: function () {
    var code = getProp("lang");
    return Config_StubMultiLangs.hasOwnProperty(code) ? code : "en";
  },

  // The language number the native side knows the code by (0 when unknown).
  idOf: function (code) {
    return appExternal.getParsedInstallLanguage(code);
  },

  // Makes `code` the language of the setup (pages and reports).
  use: function (code) {
    var id = Lang.idOf(code);
    if (id > 0) appExternal.setLang(id | 0);
  },

  // The text of `key`, with the product's name and version (config/product.js)
  // in place of {product} and {version}.
  text: function (key, code) {
    var table = Config_StubMultiLangs[code || Lang.code()];
    var text = "";
    if (table && table.hasOwnProperty(key)) text = table[key];
    else if (Config_StubMultiLangs.en.hasOwnProperty(key)) text = Config_StubMultiLangs.en[key];
    return Lang.withProduct(text);
  },

  withProduct: function (text) {
    return String(text).replace(/\{(product|version)\}/g, function (field, name) {
      return name === "product" ? Product.name : Product.version;
    });
  },

  // The text with its %s and %d fields filled in order; %% is a percent sign.
  format: function (key) {
    var args = Array.prototype.slice.call(arguments, 1);
    var next = 0;
    return Lang.text(key).replace(/%([sd%])/g, function (field, kind) {
      if (kind === "%") return "%";
      var value = next < args.length ? args[next++] : "";
      return kind === "d" ? String(Math.floor(Number(value)) || 0) : String(value);
    });
  },

  // The code in the names of the agreement documents and the one web
  // addresses use.
  documentCode: function (code) {
    return Config_LanguageMapping.hasOwnProperty(code) ? Config_LanguageMapping[code] : code;
  },

  urlCode: function (code) {
    return Config_UrlLanguageMapping.hasOwnProperty(code) ? Config_UrlLanguageMapping[code] : code;
  },

  // Fills every element that names a text key: data-text (content),
  // data-title (tooltip).
  apply: function (root) {
    var scope = root || document;
    $("[data-text]", scope).each(function () {
      $(this).text(Lang.text($(this).attr("data-text")));
    });
    $("[data-title]", scope).each(function () {
      $(this).attr("title", Lang.text($(this).attr("data-title")));
    });
    $("[data-product]", scope).each(function () {
      $(this).text($(this).attr("data-product") === "version" ? Product.version : Product.name);
    });
    document.documentElement.lang = Lang.urlCode(Lang.code());
  },

  // The offered languages, in the order of installParams.LANG, that have texts.
  offered: function () {
    var codes = [];
    for (var i = 0; i < installParams.LANG.length; i++) {
      var code = installParams.LANG[i];
      if (Config_StubMultiLangs.regions.hasOwnProperty(code) && Config_StubMultiLangs.hasOwnProperty(code)) codes.push(code);
    }
    return codes;
  },

  // Fills a <select> with the offered languages in their own names; a change
  // switches the setup's language and refills the page's texts.
  bindSelector: function (select, onChange) {
    var $select = $(select);
    var offered = Lang.offered();
    $select.empty();
    for (var i = 0; i < offered.length; i++) {
      $("<option></option>").val(offered[i]).text(Config_StubMultiLangs.regions[offered[i]]).appendTo($select);
    }
    $select.val(Lang.code());
    $select.on("change", function () {
      var code = $select.val();
      setProp("selected_lang", code);
      Lang.use(code);
      Lang.apply();
      if (onChange) onChange(code);
    });
  }
};

// ---- Result codes

var ErrorTextKeys = {
  // "UnknowError"/"unknowError" as config.js and every lang.js spell them: do not correct one alone.
  UnknowError: "unknowError",
  FileNotExist: "fileNotExist",
  DiskFull: "diskFull",
  Failure: "failure",
  Md5Error: "md5Error",
  VolumeReadOnly: "volumeReadOnly",
  NoNetwork: "noNetwork",
  Cancelled: "cancelled",
  Running: "running",
  HaveInstalled: "haveInstalled",
  Win7GM: "win7GM",
  Win8GM: "win8GM",
  IE8: "IE8",
  Win10Required: "Win10Required",
  Error1638: "Error1638",
  Error30500: "Error30500",
  Error30508: "Error30508",
  Error30509: "Error30509",
  Error20000: "Error20000"
};

// The name of a result code in Config_ErrorHandle, or "" for a number that
// is not a result code.
function errorName(code) {
  for (var name in Config_ErrorHandle) {
    if (Config_ErrorHandle.hasOwnProperty(name) && Config_ErrorHandle[name] === code) return name;
  }
  return "";
}

// The text shown for a result code. Codes without a text of their own (and
// numbers that are no result code) read as an unknown error.
function getErrorText(code) {
  var name = errorName(code);
  var key = ErrorTextKeys.hasOwnProperty(name) ? ErrorTextKeys[name] : "unknowError";
  return Lang.text(key);
}

// Puts the report code of a result in IM_ErrorCode.
function setErrorCodeUrl(code) {
  var name = errorName(code) || "UnknowError";
  setProp("IM_ErrorCode", Config_ErrorCodeURL[name]);
}

// ---- Navigation

var Navigator = {
  current: function () {
    return document.title;
  },

  isLoad: function () {
    return Navigator.current() === "Load";
  },

  indexOf: function (name) {
    for (var i = 0; i < Config_SequencePages.length; i++) {
      if (Config_SequencePages[i] === name) return i;
    }
    return -1;
  },

  go: function (url) {
    window.location.href = url;
  },

  close: function () {
    appExternal.closeWindow();
  },

  // The address of any page of the bundle, seen from the current one.
  pageUrl: function (name) {
    return (Navigator.isLoad() ? "pages/" : "../") + name + "/page.html";
  },

  nextPage: function () {
    var i = Navigator.indexOf(Navigator.current());
    if (i < 0 || i + 1 >= Config_SequencePages.length) Navigator.close();
    else Navigator.go("../" + Config_SequencePages[i + 1] + "/page.html");
  },

  previousPage: function () {
    var i = Navigator.indexOf(Navigator.current());
    if (i <= 0) Navigator.close();
    else Navigator.go("../" + Config_SequencePages[i - 1] + "/page.html");
  },

  firstPage: function () {
    if (!Navigator.isLoad() || Config_SequencePages.length === 0) Navigator.close();
    else Navigator.go("pages/" + Config_SequencePages[0] + "/page.html");
  },

  goSpecifiedPage: function (name) {
    if (Navigator.indexOf(name) < 0) Navigator.close();
    else Navigator.go(Navigator.pageUrl(name));
  },

  gotoUpdatePage: function () {
    Navigator.go(Navigator.pageUrl("SelfUpdate"));
  },

  // The final pages lie outside the sequence.
  goFinishPage: function () {
    Navigator.go(Navigator.pageUrl("Finish"));
  },

  goRestartPage: function () {
    Navigator.go(Navigator.pageUrl("Restart"));
  },

  // Shows the error page for a result code, or for a text of its own.
  showError: function (code, message) {
    setProp("errorResult", code | 0);
    setProp("errorMessage", message || getErrorText(code));
    setErrorCodeUrl(code);
    Navigator.go(Navigator.pageUrl("Error"));
  }
};

// ---- Window size and DPI

var HdpiController = {
  // Page zoom that the start page chose for this screen.
  rate: function () {
    var rate = parseFloat(getProp("uiScaleRate"));
    return isFinite(rate) && rate > 0 && rate <= 1 ? rate : 1;
  },

  pixelRatio: function () {
    if (window.devicePixelRatio) return window.devicePixelRatio;
    if (window.screen && screen.deviceXDPI && screen.logicalXDPI) return screen.deviceXDPI / screen.logicalXDPI;
    return 1;
  },

  // Scales the page body and picks the double-resolution images when a CSS
  // pixel covers more than 1.25 screen pixels.
  apply: function () {
    var rate = HdpiController.rate();
    document.body.style.zoom = String(rate);
    var $root = $(document.documentElement);
    $root.toggleClass("hdpi", HdpiController.pixelRatio() * rate > 1.25);
  }
};

var Startup = {
  width: 588,
  height: 702,
  // A screen too small for even this share of the window gets it anyway.
  minimumRate: 0.3,

  // The zoom for a screen: 4/5 steps until the window fits with 100 pixels
  // to spare in both directions. A rate that stays 1 is 0.9999.
  rateFor: function (availableWidth, availableHeight) {
    var width = Startup.width;
    var height = Startup.height;
    var rate = 1;
    while ((availableWidth - 100 < width || availableHeight - 100 < height) && rate * 0.8 >= Startup.minimumRate) {
      rate = rate * 0.8;
      width = (width * 4) / 5;
      height = (height * 4) / 5;
    }
    return rate === 1 ? 0.9999 : rate;
  },

  sizeWindow: function () {
    var rate = Startup.rateFor(screen.availWidth, screen.availHeight);
    setProp("uiScaleRate", rate);
    HdpiController.apply();
    appExternal.setWindowSize((Startup.width * rate) | 0, (Startup.height * rate) | 0);
    return rate;
  },

  // The page that the resume mode asks for; an unknown mode stays here.
  goByResumeMode: function () {
    var mode = appExternal.getResumeMode();
    var go = Navigator.isLoad() ? Navigator.firstPage : function () {
      Navigator.goSpecifiedPage(Config_SequencePages[0]);
    };
    if (mode === Config_ResumeMode.NONE) go();
    else if (mode === Config_ResumeMode.DOWNLOADING) Navigator.goSpecifiedPage("Downloading");
    else if (mode === Config_ResumeMode.INSTALLING) Navigator.goSpecifiedPage("Installing");
    return mode;
  }
};

// ---- Progress bars

// A bar and its label. `set` takes native counters; a timed bar moves along
// an estimated time until the real counters overtake it. Shown values never
// go back.
function InstallProgress(bar, label) {
  this.$bar = $(bar);
  this.$label = label ? $(label) : null;
  this.shown = 0;
  this.timer = null;
  this.$bar.progressbar({ value: 0, max: 100 });
  this.render();
}

InstallProgress.percentOf = function (current, total) {
  if (!(total > 0) || !(current > 0)) return 0;
  var percent = Math.floor((current * 100) / total);
  return percent > 100 ? 100 : percent;
};

InstallProgress.prototype.render = function () {
  this.$bar.progressbar("value", this.shown);
  if (this.$label) this.$label.text(Lang.format("complete", this.shown));
};

InstallProgress.prototype.setPercent = function (percent) {
  if (percent > this.shown) {
    this.shown = percent > 100 ? 100 : percent;
    this.render();
  }
};

InstallProgress.prototype.set = function (current, total) {
  this.setPercent(InstallProgress.percentOf(current, total));
};

// Moves from `from` towards `to` percent over about `seconds`, slowing down
// as it nears `to`, for installers that report little or nothing.
InstallProgress.prototype.startTimed = function (seconds, from, to) {
  var self = this;
  var started = new Date().getTime();
  var span = (seconds > 0 ? seconds : 60) * 1000;
  this.stopTimed();
  this.timer = window.setInterval(function () {
    var share = (new Date().getTime() - started) / span;
    self.setPercent(from + Math.floor((to - from) * (1 - Math.exp(-2 * share))));
  }, 500);
};

InstallProgress.prototype.stopTimed = function () {
  if (this.timer !== null) window.clearInterval(this.timer);
  this.timer = null;
};

InstallProgress.prototype.finish = function () {
  this.stopTimed();
  this.setPercent(100);
};

// ---- Billboards

// Cycles through the billboard images of files.js with their captions.
var BillboardController = {
  index: 0,
  timer: null,
  $root: null,

  start: function (root, intervalMs) {
    BillboardController.$root = $(root);
    BillboardController.show(0);
    BillboardController.stop();
    BillboardController.timer = window.setInterval(function () {
      BillboardController.show(BillboardController.index + 1);
    }, intervalMs || 6000);
  },

  stop: function () {
    if (BillboardController.timer !== null) window.clearInterval(BillboardController.timer);
    BillboardController.timer = null;
  },

  show: function (index) {
    var boards = Files.billboards;
    if (!BillboardController.$root || boards.length === 0) return;
    var i = ((index % boards.length) + boards.length) % boards.length;
    BillboardController.index = i;
    var board = boards[i];
    var $root = BillboardController.$root;
    $root.attr("data-board", String(i));
    $root.find(".billboard-image").attr("class", "billboard-image " + board.image);
    $root.find(".billboard-title").text(Lang.text(board.title));
    $root.find(".billboard-text").text(Lang.text(board.text));
  }
};

// ---- Components and jobs

var ComponentList = {
  // The components of this setup: the downloaded list, or the single package
  // with the configured prerequisites.
  all: function () {
    if (Config_MultiDownload) return typeof Components === "undefined" ? [] : Components;
    var url = getProp("downloadUrl");
    var single = {
      group: 0,
      sku: installParams.EXE_NOTES,
      type: ComponentType.Inherit | ComponentType.MustSelect,
      name: ComponentList.singleName,
      estimatedTime: Config_SingleDownload.estimatedTime,
      registry: Config_SingleDownload.registry,
      files: [
        {
          name: ComponentList.fileNameOf(url),
          url: url,
          param: installParams.EXE_PARAMETERS,
          size: bytesOf(getProp("downloadSize")),
          installSize: 0,
          crc: ""
        }
      ]
    };
    return Config_PrerequisteComponents.concat([single]);
  },

  singleName: "Tessary",

  // DOWNLOAD_URL for a bitness and a language code.
  downloadUrl: function (is64, code) {
    return String(installParams.DOWNLOAD_URL)
      .replace(/\$\{osbits\}/g, is64 ? "64" : "32")
      .replace(/\$\{lang\}/g, Lang.urlCode(code));
  },

  // Keeps downloadUrl in step with the chosen bitness and language.
  updateDownloadUrl: function () {
    setProp("downloadUrl", ComponentList.downloadUrl(ComponentList.is64(), Lang.code()));
  },

  // The file name at the end of a download address (query and fragment
  // dropped), or the configured product file name.
  fileNameOf: function (url) {
    var path = String(url).split(/[?#]/)[0];
    var name = path.substring(path.lastIndexOf("/") + 1);
    return isSafeRelativeName(name) ? name : installParams.PRODUCT_FILE_NAME;
  },

  is64: function () {
    return isTrue(getProp("isDownload64"));
  },

  // What the pages call a component: the lang.js text named by its `text`
  // (else by its `name`, which is also its property and report name), or
  // the key itself when no language has it.
  displayName: function (component, code) {
    var key = component.text || component.name;
    return Lang.text(key, code) || key;
  },

  // Whether the component is for the chosen bitness.
  fitsArchitecture: function (component) {
    var x86 = hasFlag(component.type, ComponentType.X86);
    var x64 = hasFlag(component.type, ComponentType.X64);
    if (x86 === x64) return true;
    return x64 === ComponentList.is64();
  },

  // Selected unless the user turned it off; a must-select one always is.
  isSelected: function (component) {
    if (hasFlag(component.type, ComponentType.MustSelect)) return true;
    if (hasFlag(component.type, ComponentType.Patch)) {
      if (Config_PatchOption === "Disable") return false;
      if (Config_PatchOption === "UserOption") return isTrue(getProp("installPatch"));
      return true;
    }
    return getProp(component.name) !== "false";
  },

  isInstalled: function (component) {
    var registry = component.registry;
    if (!registry || !registry.key) return false;
    return appExternal.getDataFromReg(replaceParams(registry.key), String(registry.value || "")) !== "";
  }
};

var Jobs = {
  list: [],
  installedSkipped: 0,
  rejected: 0,

  // One job per file of every selected component for the chosen bitness that
  // is not installed yet. A component with an unusable file name or address
  // is left out whole. Selected components get their property set to "true".
  setJobs: function (components, downloadFolder) {
    Jobs.list = [];
    Jobs.installedSkipped = 0;
    Jobs.rejected = 0;
    for (var c = 0; c < components.length; c++) {
      var component = components[c];
      if (!ComponentList.fitsArchitecture(component) || !ComponentList.isSelected(component)) continue;
      if (ComponentList.isInstalled(component)) {
        Jobs.installedSkipped++;
        continue;
      }
      var jobs = Jobs.jobsOf(component, downloadFolder);
      if (jobs === null) {
        Jobs.rejected++;
        continue;
      }
      setProp(component.name, "true");
      Jobs.list = Jobs.list.concat(jobs);
    }
    return Jobs.list;
  },

  jobsOf: function (component, downloadFolder) {
    var files = component.files || [];
    var jobs = [];
    for (var f = 0; f < files.length; f++) {
      var file = files[f];
      var url = replaceParams(file.url);
      if (!isSafeRelativeName(file.name) || !isWebAddress(url)) return null;
      var mirrors = Jobs.mirrorsOf(file, url);
      if (mirrors === null) return null;
      var path = joinPath(downloadFolder, file.name.replace(/\//g, "\\"));
      jobs.push({
        component: component,
        file: file,
        url: url,
        path: path,
        folder: parentFolder(path),
        crc: String(file.crc || ""),
        mirrors: mirrors,
        size: bytesOf(file.size),
        isInstaller: typeof file.param === "string",
        param: typeof file.param === "string" ? file.param : ""
      });
    }
    return jobs.length ? jobs : null;
  },

  // The entry's `mirrors`: more URLs of the same file, each an http(s)
  // address (https when the file's is), none repeated, at most seven; null
  // when any is not, so the component is refused rather than half-used.
  mirrorsOf: function (file, url) {
    if (file.mirrors === undefined) return [];
    if (!Array.isArray(file.mirrors) || file.mirrors.length > Jobs.maxMirrors) return null;
    var secure = /^https:/i.test(url);
    var seen = [url];
    for (var i = 0; i < file.mirrors.length; i++) {
      var mirror = replaceParams(file.mirrors[i]);
      if (typeof file.mirrors[i] !== "string" || !isWebAddress(mirror)) return null;
      if (secure && !/^https:/i.test(mirror)) return null;
      if (seen.indexOf(mirror) >= 0) return null;
      seen.push(mirror);
    }
    return seen.slice(1);
  },
  maxMirrors: 7,

  installers: function () {
    var list = [];
    for (var i = 0; i < Jobs.list.length; i++) {
      if (Jobs.list[i].isInstaller) list.push(Jobs.list[i]);
    }
    return list;
  },

  // The result of a list without jobs: everything was installed already, or
  // nothing could be found to download.
  emptyResult: function () {
    return Jobs.installedSkipped > 0 ? Config_ErrorHandle.HaveInstalled : Config_ErrorHandle.FileNotExist;
  },

  totalSize: function () {
    var total = 0;
    for (var i = 0; i < Jobs.list.length; i++) total += Jobs.list[i].size;
    return total;
  }
};

// ---- Resume record

var ResumeRecord = {
  key: function () {
    return appExternal.getBaseRegKey() + "\\ResumeRecord";
  },

  write: function (name, data) {
    appExternal.setDataToReg(ResumeRecord.key(), name, String(data), true);
  },

  read: function (name) {
    return appExternal.getDataFromReg(ResumeRecord.key(), name);
  }
};

// Writes what a restarted setup needs to go on where this one stopped.
function record() {
  var R = Config_RegRecorder;
  var bits = isTrue(getProp("isDownload64")) ? "64" : "32";
  ResumeRecord.write(R.OS, bits);
  ResumeRecord.write(R.IsISO, boolText(isTrue(getProp("isISO"))));
  ResumeRecord.write(R.Lang, String(Lang.idOf(Lang.code())));
  ResumeRecord.write(R.Directory, getProp("downloadPath"));
  ResumeRecord.write(R.IsDownloadOnly, getProp("isDownloadOnly"));
  ResumeRecord.write(R.ExtractInDownload, getProp("isExtractInDownload"));
  var url = getProp("downloadUrl");
  if (url !== "") ResumeRecord.write(R.DownloadUrl, url);
  var size = getProp("downloadSize");
  if (size !== "") ResumeRecord.write(R.DownloadSize, size);
  var components = "";
  var all = ComponentList.all();
  for (var i = 0; i < all.length; i++) {
    var entry = all[i].name + bits + ";";
    if (isTrue(getProp(all[i].name))) components += entry;
  }
  ResumeRecord.write(R.Components, components);
}

// Reads the record back into the page properties. A record without a usable
// download folder is not resumed from (false).
function resume() {
  var R = Config_RegRecorder;
  var directory = ResumeRecord.read(R.Directory);
  if (!isSafeFolder(directory)) return false;
  setProp("isDownload64", boolText(ResumeRecord.read(R.OS) === "64"));
  setProp("isISO", boolText(isTrue(ResumeRecord.read(R.IsISO))));
  setProp("downloadPath", directory);
  setProp("isDownloadOnly", ResumeRecord.read(R.IsDownloadOnly));
  setProp("isExtractInDownload", ResumeRecord.read(R.ExtractInDownload));
  var url = ResumeRecord.read(R.DownloadUrl);
  if (url !== "") setProp("downloadUrl", url);
  var size = ResumeRecord.read(R.DownloadSize);
  if (size !== "") setProp("downloadSize", size);
  var lang = parseInt(ResumeRecord.read(R.Lang), 10);
  if (lang > 0 && lang < 108) appExternal.setLang(lang | 0);
  var entries = ResumeRecord.read(R.Components).split(";");
  for (var i = 0; i < entries.length; i++) {
    if (entries[i] === "") continue;
    setProp(entries[i], "true");
    // The entry is the component's name and its bitness; the pages select
    // components by name.
    var name = entries[i].replace(/(32|64)$/, "");
    if (name !== "" && name !== entries[i]) setProp(name, "true");
  }
  return true;
}

// Drops a finished component from the record.
function updateComponents(done) {
  var entries = ResumeRecord.read(Config_RegRecorder.Components).split(";");
  var kept = "";
  for (var i = 0; i < entries.length; i++) {
    var entry = entries[i];
    if (entry === "" || entry === done || entry.replace(/(32|64)$/, "") === done) continue;
    kept += entry + ";";
  }
  ResumeRecord.write(Config_RegRecorder.Components, kept);
}

function delRecord() {
  appExternal.deleteRegKey(ResumeRecord.key(), false);
}

// Before a restart: keep the state and come back at `page` ("INSTALLING" or
// "DOWNLOADING").
function prepareResume(page) {
  record();
  appExternal.runAfterReboot(page);
}

function undoPrepareResume() {
  appExternal.undoRunAfterReboot();
  delRecord();
}

// ---- After a successful install

function runPostInstallActions() {
  var ran = [];
  for (var i = 0; i < Config_PostInstallActions.length; i++) {
    var action = Config_PostInstallActions[i];
    var param = "";
    if (action.reg && action.reg.key) param = appExternal.getDataFromReg(action.reg.key, action.reg.value);
    if (param === "") param = action.data || "";
    if (param === "") continue;
    var started = false;
    if (action.type === Config_PostInstallActionType.APP) started = appExternal.runApplication(param);
    else if (action.type === Config_PostInstallActionType.URL) started = appExternal.openPage(param);
    else if (action.type === Config_PostInstallActionType.CMD) started = appExternal.executeCommand(param);
    ran.push({ type: action.type, param: param, started: started === true });
  }
  return ran;
}

// ---- Reports

var Telemetry = {
  // Posts a pageview for the named step with the run's outcome.
  pageview: function (page, result) {
    var body = fillTemplate(UrlParams.GApage, {
      cid: appExternal.getMachineId(),
      page: "/" + page,
      channel: installParams.CHNL,
      lang: Lang.code(),
      result: result === undefined ? "" : String(result),
      downloadTime: appExternal.getDownloadTimeProp()
    });
    appExternal.GetGAPostURL(body);
    return body;
  }
};

// ---- Page frame

// What every page does first: scale, texts, the frame's own buttons.
var Page = {
  cancelHandler: null,

  init: function () {
    HdpiController.apply();
    Lang.apply();
    $(document).on("selectstart dragstart", function (event) {
      return $(event.target).is("input, textarea");
    });
    $(document).on("contextmenu", function () {
      return false;
    });
    $("#titlebar").on("mousedown", function (event) {
      if (event.which === 1 && !$(event.target).closest("button").length) appExternal.dragWindow();
    });
    $("#btn-minimize").on("click", function () {
      appExternal.minimizeWindow();
    });
    $("#btn-close").on("click", function () {
      if (Page.cancelHandler) Page.cancelHandler();
      else Navigator.close();
    });
  },

  // Asks whether to leave the setup; true when the user said yes.
  confirmCancel: function () {
    setProp("CancelYes", "");
    appExternal.messageBoxCancel(Lang.text("quitConfirm"), Lang.text("appTitle"));
    var yes = isTrue(getProp("CancelYes"));
    setProp("CancelYes", "");
    return yes;
  },

  // Leaves a setup that the user cancelled.
  cancelRun: function () {
    appExternal.setInstallStatus(Config_Status.CANCEL | 0);
    Navigator.close();
  }
};
