// "OSLang": the system's language when the setup offers it, else English.
// "English": always English.
var Feature_DefaultLanguageOrder = "OSLang";
