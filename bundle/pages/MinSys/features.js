// Help page about the system requirements (fields as in UrlParams.url).
var Feature_HelpUrl = "https://support.brelvo.example/tessary/22/requirements?lang=<lang>";
