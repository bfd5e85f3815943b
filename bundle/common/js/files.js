// Images of the billboards (CSS classes of common/css/style.css, one per
// picture) with the keys of their texts, and the agreement documents per
// language code.
var Files = {
  billboards: [
    { image: "billboard-canvas", title: "billboard1Title", text: "billboard1Text" },
    { image: "billboard-layers", title: "billboard2Title", text: "billboard2Text" },
    { image: "billboard-share", title: "billboard3Title", text: "billboard3Text" }
  ],

  agreements: {
    br: "tos/BR_TOS.htm",
    cs: "tos/CS_TOS.htm",
    ct: "tos/CT_TOS.htm",
    cz: "tos/CZ_TOS.htm",
    de: "tos/DE_TOS.htm",
    en: "tos/EN_TOS.htm",
    es: "tos/ES_TOS.htm",
    fr: "tos/FR_TOS.htm",
    it: "tos/IT_TOS.htm",
    jp: "tos/JP_TOS.htm",
    kr: "tos/KR_TOS.htm",
    nl: "tos/NL_TOS.htm",
    pl: "tos/PL_TOS.htm",
    ru: "tos/RU_TOS.htm",
    su: "tos/SU_TOS.htm",
    tr: "tos/TR_TOS.htm"
  },

  // The agreement in a language (its document code), English when there is
  // none; relative to the Agreement page.
  agreementFor: function (documentCode) {
    return Files.agreements.hasOwnProperty(documentCode) ? Files.agreements[documentCode] : Files.agreements.en;
  }
};
