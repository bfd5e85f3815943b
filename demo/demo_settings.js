'use strict';
// What the demo lays over the shipped bundle's configuration, and the
// component list it publishes: the setup fetches its list from the local
// server, then downloads and installs the demo product's two components.

const fs = require('node:fs');

const BLOCK = 1 << 20;
// ComponentType flags of config/config.js.
const MUST_SELECT = 8;
const SELECTABLE = 4;
const RELEASE_PATH = '/tessary/22.0';

// The size of the file a .meta describes (its first 8 bytes, little-endian).
function metaFileSize(metaPath) {
  const head = fs.readFileSync(metaPath).subarray(0, 8);
  return Number(head.readBigUInt64LE(0));
}

function blockCount(bytes) {
  return Math.ceil(bytes / BLOCK);
}

// The component list: the Windows Installer package, which every setup
// installs, and the samples ZIP, which the user may leave out. `base` is the
// download server's address.
function demoComponents(base, sizes) {
  return [
    {
      group: 0,
      sku: 'TESSARY-22',
      type: MUST_SELECT,
      name: 'Tessary',
      estimatedTime: 30,
      registry: { key: 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Brelvo\\Tessary\\22.0', value: 'Version' },
      files: [
        {
          name: 'Tessary/Tessary-22.0.msi',
          url: `${base}${RELEASE_PATH}/Tessary-22.0.msi`,
          param: '/qn REBOOT=ReallySuppress',
          size: sizes.msi,
          installSize: sizes.msi,
          crc: '',
        },
      ],
    },
    {
      group: 1,
      sku: 'TESSARY-SAMPLES-22',
      type: SELECTABLE,
      name: 'TessarySamples',
      estimatedTime: 10,
      registry: { key: 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Brelvo\\Tessary\\22.0\\Samples', value: 'Version' },
      files: [
        {
          name: 'Samples/Tessary-Samples-22.0.zip',
          url: `${base}${RELEASE_PATH}/Tessary-Samples-22.0.zip`,
          param: '',
          size: sizes.zip,
          installSize: sizes.zip,
          crc: '',
        },
      ],
    },
  ];
}

// The overlay's files and settings (see stub_pack.writeOverlay). Wine's
// facts trip the shipped minimum-system flags, so none of them blocks here.
function demoOverlay(base, sizes) {
  return {
    'config/config.js': { Config_MultiDownload: true, Config_MinSys: [] },
    'config/installparams.js': {
      'installParams.DOWNLOAD_URL': `${base}${RELEASE_PATH}/installerlist.js`,
      'installParams.UPDATE_STUB_URL': `${base}${RELEASE_PATH}/TessarySetup.exe`,
      'installParams.TYP_URL': `${base}/tessary/thank-you.html`,
    },
    'config/installerlist.js': { Components: demoComponents(base, sizes) },
  };
}

module.exports = { BLOCK, RELEASE_PATH, metaFileSize, blockCount, demoComponents, demoOverlay };
