// Where the test page downloads its package from; the test lays its own
// address over this file.
var Params = { url: "", parameters: "/qn" };
