// Offer to start the product once it is installed.
var Feature_LaunchProduct = true;
// Open the thank-you page (installParams.TYP_URL, else the language's
// TYP_URL text) after a completed install.
var Feature_OpenThankYouPage = true;
