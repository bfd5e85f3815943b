// The product this bundle installs, in one place: its name and version as
// the pages show them (the banner, the title bar, and every text of lang.js,
// which names them as {product} and {version}). The tagline is a text of
// lang.js ("tagline"), since it is translated.
var Product = {
  name: "Tessary",
  version: "22"
};
