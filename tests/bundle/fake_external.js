'use strict';
// A window.external that answers as the stub's native side does, for the
// bundle's pages in Chromium. It checks every call against the native
// method table (argument count and script types: text, 32-bit integer,
// boolean, function), records it, and keeps what the native side keeps
// across page loads (properties, registry values, install status, the
// RunOnce entry) in sessionStorage, so a flow over several pages sees one
// native side. Long operations (download, install, selfUpdate,
// updateInstallerList) hand their callback to a worker that plays a script
// of (result, total, current) calls, or waits for the test ("hold").
//
// installFakeExternal runs inside the page (addInitScript); its config:
//   methods   { name: { kind: "M"|"G"|"U", types: "TTTBBF" } } from the table
//   origin    only documents of this origin get the object
//   native    initial native state, see DEFAULTS below

function installFakeExternal(config) {
  if (location.origin !== config.origin) return;
  const KEY = '__fakeExternal';

  // Rows of the language table: number -> code.
  const LANGUAGE_CODES = ('other en fr de it jp es pt nl ko ru cs zh tw af sq am ar hy as ba eu be bn br bs bg ca co hr ' +
    'da dv et fi fy gl ka el kl gu ha he hi hu is ig id iu ga kn ks kk km rw ky lo lv lt lb mk ms ml mt mi mr mn ne no ' +
    'oc or ps fa pl pa qu ro rm se sa gd sr sd si sk sl st sw sv tg ta tt te th bo tn tr tk ug uk ur uz vi cy wo xh yi ' +
    'yo zu').split(' ');

  const DEFAULTS = {
    props: { lang: 'en', osbits: '64', resourceLocation: 'C:\\Users\\me\\AppData\\Local\\Temp\\1a2b\\' },
    registry: {},
    osVersion: '10.0',
    osLang: 1,
    resumeMode: 0,
    silent: false,
    skipSelfUpdate: false,
    needSelfUpdate: false,
    minSys: '',
    windows7GM: false,
    windows8GM: false,
    ie8: false,
    requireReboot: false,
    freeSpace: '107374182400',
    files: [],
    sizes: {},
    folderAnswer: null,
    boxAnswers: [],
    workers: {},
    tempPath: 'C:\\Users\\me\\AppData\\Local\\Temp\\',
  };

  function load() {
    const saved = sessionStorage.getItem(KEY);
    if (saved) return JSON.parse(saved);
    const native = Object.assign({}, DEFAULTS, config.native || {});
    native.props = Object.assign({}, DEFAULTS.props, (config.native && config.native.props) || {});
    return {
      native,
      calls: [],
      documents: [],
      status: 4,
      channel: '',
      closed: 0,
      hidden: false,
      windowSizes: [],
      boxes: [],
      runOnce: null,
      started: [],
    };
  }

  let state = load();
  const save = () => sessionStorage.setItem(KEY, JSON.stringify(state));
  state.documents.push(location.pathname.replace(/^.*?\/(pages\/|Load)/, '$1'));
  save();

  const native = () => state.native;
  const props = () => state.native.props;

  // Registry paths compare without regard to case, roots long or short.
  const ROOTS = { HKLM: 'HKEY_LOCAL_MACHINE', HKCU: 'HKEY_CURRENT_USER', HKCC: 'HKEY_CURRENT_CONFIG', HKU: 'HKEY_USERS', HKCR: 'HKEY_CLASSES_ROOT' };
  function keyOf(path) {
    const cut = path.indexOf('\\');
    const root = cut < 0 ? path : path.slice(0, cut);
    const long = ROOTS[root.toUpperCase()] || root.toUpperCase();
    return (long + (cut < 0 ? '' : path.slice(cut))).toLowerCase();
  }
  const valueKey = (key, name) => `${keyOf(key)}|${name.toLowerCase()}`;

  function failure(name, code) {
    const error = new Error(`window.external.${name}: 0x${(code >>> 0).toString(16).toUpperCase()}`);
    error.number = code | 0;
    return error;
  }
  const DISP_E_BADPARAMCOUNT = 0x8002000e;
  const DISP_E_TYPEMISMATCH = 0x80020005;
  const STG_E_INVALIDPARAMETER = 0x80030057;

  function typeOf(value) {
    if (typeof value === 'string') return 'T';
    if (typeof value === 'boolean') return 'B';
    if (typeof value === 'function') return 'F';
    if (typeof value === 'number' && Number.isInteger(value) && value >= -2147483648 && value <= 2147483647) return 'I';
    return typeof value;
  }

  function check(name, args) {
    const method = config.methods[name];
    if (method.kind === 'U') return;
    if (args.length !== method.types.length) throw failure(name, DISP_E_BADPARAMCOUNT);
    if (name === 'runApplication') return;
    for (let i = 0; i < args.length; i++) {
      if (typeOf(args[i]) !== method.types[i]) throw failure(name, DISP_E_TYPEMISMATCH);
    }
  }

  // ---- Workers: each plays its script after the call has returned.
  window.__fakeWorkers = [];
  function startWorker(name, callback, detail) {
    const plan = native().workers[name];
    const worker = { name, callback, detail, done: false };
    window.__fakeWorkers.push(worker);
    state.started.push(Object.assign({ worker: name }, detail));
    save();
    if (plan === 'hold') return;
    const steps = plan || [
      [10, 1048576, 262144],
      [10, 1048576, 786432],
      [0, 1048576, 1048576],
    ];
    let i = 0;
    const next = () => {
      if (worker.done || i >= steps.length) return;
      const step = steps[i++];
      if (step[0] !== 10) worker.done = true;
      callback.apply(undefined, step);
      setTimeout(next, 5);
    };
    setTimeout(next, 5);
  }

  const answers = {
    download: (url, file, crc, secure, resume, callback) => startWorker('download', callback, { url, file, crc, secure, resume }),
    install: (shortcut, file, param, seconds, callback) => startWorker('install', callback, { shortcut, file, param, seconds }),
    selfUpdate: (url, callback) => startWorker('selfUpdate', callback, { url }),
    updateInstallerList: (url, file, secure, resume, callback) => startWorker('updateInstallerList', callback, { url, file, secure, resume }),
    stopDownload: () => {
      for (const worker of window.__fakeWorkers) {
        if (worker.name === 'download' && !worker.done) {
          worker.done = true;
          setTimeout(() => worker.callback(5, 0, 0), 5);
        }
      }
    },
    initDownloadSize: (url) => {
      props().downloadTotal = native().sizes[url] || props().downloadTotal || '1';
    },
    getDownloadTimeProp: () => '42',

    getProperty: (name) => {
      if (!(name in props())) props()[name] = '';
      return props()[name];
    },
    setProperty: (name, value) => {
      props()[name] = value;
    },
    getResourceLocation: () => props().resourceLocation || '',
    setLang: (id) => {
      if (id >= 0 && id < LANGUAGE_CODES.length) props().lang = LANGUAGE_CODES[id];
    },
    getParsedInstallLanguage: (code) => {
      const row = LANGUAGE_CODES.indexOf(code, 1);
      return row < 0 ? 0 : row;
    },
    getOSLang: () => native().osLang,
    getLanguageByID: () => 1,
    setInstallStatus: (status) => {
      if (status < 0 || status > 6) throw failure('setInstallStatus', STG_E_INVALIDPARAMETER);
      state.status = status;
    },
    setChannel: (channel) => {
      state.channel = channel;
    },
    getOSVersion: () => native().osVersion,
    checkOS: () => true,
    getMachineId: () => '1-0A1B2C3D-0000-4000-8000-00AA00BB00CC',
    isInternetConnected: () => true,
    getCurrentPath: () => 'C:\\Users\\me\\Downloads',
    getDesktopPath: () => 'C:\\Users\\me\\Desktop',
    getTempPath: (name) => `${native().tempPath}${name || 'Tessary'}\\`,
    isFileExists: (path) => native().files.indexOf(path) >= 0,
    createDirectory: (path) => {
      if (native().files.indexOf(path) >= 0) return false;
      native().files.push(path);
      return true;
    },
    isDestReadOnly: () => false,
    getDiskAvailableSpace: () => native().freeSpace,
    getFileSize: () => '0',
    getCrc: () => '0',
    getFileVersion: () => '',

    getBaseRegKey: () => 'HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22',
    getDataFromReg: (key, name) => {
      const value = native().registry[valueKey(key, name)];
      return value === undefined ? '' : value;
    },
    setDataToReg: (key, name, data) => {
      native().registry[valueKey(key, name)] = data;
    },
    deleteRegKey: (key) => {
      const prefix = `${keyOf(key)}|`;
      const below = `${keyOf(key)}\\`;
      const names = Object.keys(native().registry);
      if (names.some((n) => n.startsWith(below))) return;
      for (const n of names) if (n.startsWith(prefix)) delete native().registry[n];
    },
    searchRegKey: () => false,

    getResumeMode: () => native().resumeMode,
    runAfterReboot: (mode) => {
      state.runOnce = `"C:\\Users\\me\\Downloads\\TessarySetup.exe" RESUME=${mode}`;
    },
    undoRunAfterReboot: () => {
      state.runOnce = null;
    },

    closeWindow: () => {
      state.closed++;
    },
    terminateWindow: () => {
      state.closed++;
    },
    minimizeWindow: () => {},
    dragWindow: () => {},
    hideWindow: () => {
      state.hidden = true;
    },
    showWindow: () => {
      state.hidden = false;
    },
    setWindowSize: (width, height) => {
      state.windowSizes.push([width, height]);
    },
    selectFolder: (initial) => (native().folderAnswer === null ? initial : native().folderAnswer),
    messageBox: (text, caption) => {
      state.boxes.push({ kind: 'ok', text, caption });
    },
    messageBoxError: (text, caption) => {
      state.boxes.push({ kind: 'error', text, caption });
      props().MsgOK = 'true';
      state.closed++;
    },
    messageBoxExit: (text, caption) => {
      state.boxes.push({ kind: 'exit', text, caption });
      if (native().boxAnswers.shift()) state.closed++;
    },
    messageBoxCancel: (text, caption) => {
      state.boxes.push({ kind: 'cancel', text, caption });
      if (native().boxAnswers.shift()) props().CancelYes = 'true';
    },
    confirmMessageBox: (text, caption) => {
      state.boxes.push({ kind: 'confirm', text, caption });
      return Boolean(native().boxAnswers.shift());
    },
    openPage: () => true,
    startProgram: () => {},
    runApplication: () => true,
    executeCommand: () => true,
    startRegApps: () => {},
    manageDesktopShortcut: () => {},
    restartSystem: () => {},
    restartSystemNoMsg: () => {},
    isSilentLaunchStub: () => native().silent,
    isSkipSelfUpdate: () => native().skipSelfUpdate,
    isNeedSelfUpdate: () => native().needSelfUpdate,
    trackUserActivity: () => {},
    isInEmbargoedCountry: () => false,
    getLastInstallError: () => 0,
    setUninstallRegistryFromStub: () => {},
    isUninstallModeLaunch: () => false,
    removeProgram: () => {},
    repairProgram: () => {},
    verifyFileInSpecialDirectory: () => {},
    cancelVerifyThread: () => {},

    isNET46Installed: () => true,
    isWindows7GM: () => native().windows7GM,
    isWindows8GM: () => native().windows8GM,
    isWindows10: () => true,
    isWindows7: () => false,
    isWindows8: () => false,
    isGreaterThanWindows10: () => true,
    isIE8: () => native().ie8,
    CheckMinSys: () => native().minSys,
    isRequireReboot: () => native().requireReboot,
    removeRebootKey: () => true,
    isLowRes: () => native().minSys.indexOf('LOWRES') >= 0,
    GetUrlOSVersion: () => '10.19045',
    GetGAPostURL: () => {},
  };

  function encode(value) {
    return typeof value === 'function' ? '<function>' : value;
  }

  const external = {};
  for (const name of Object.keys(config.methods)) {
    if (!answers[name]) throw new Error(`fake external: no answer for ${name}`);
    external[name] = function () {
      const args = Array.prototype.slice.call(arguments);
      state = JSON.parse(sessionStorage.getItem(KEY));
      state.calls.push({ name, args: args.map(encode), page: document.title });
      save();
      check(name, args);
      const result = answers[name].apply(undefined, args);
      save();
      return result;
    };
  }
  Object.freeze(external);
  Object.defineProperty(window, 'external', { value: external, configurable: false, writable: false });
}

module.exports = { installFakeExternal };
