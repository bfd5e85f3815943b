// Shows the licence terms in the setup's language; the setup goes on once
// they are accepted, and does not ask again after that.

var Agreement = {
  acceptedValue: "skipAcceptedEula",

  isAccepted: function () {
    return isTrue(appExternal.getDataFromReg(appExternal.getBaseRegKey(), Agreement.acceptedValue));
  },

  show: function () {
    $("#tos").attr("src", Files.agreementFor(Lang.documentCode(Lang.code())));
  }
};

$(function () {
  if (!Config_ShowAgreement || Agreement.isAccepted()) {
    Navigator.nextPage();
    return;
  }
  Page.init();
  Agreement.show();
  $("#accept").on("click", function () {
    $("#btn-next").prop("disabled", !this.checked);
  });
  $("#btn-back").on("click", function () {
    Navigator.previousPage();
  });
  $("#btn-next").on("click", function () {
    appExternal.setDataToReg(appExternal.getBaseRegKey(), Agreement.acceptedValue, "true", false);
    Navigator.nextPage();
  });
});
