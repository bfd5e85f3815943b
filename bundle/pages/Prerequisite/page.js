// Lets the user choose the prerequisite components; a list without any
// moves on at once.

var Prerequisite = {
  components: function () {
    var all = ComponentList.all();
    var list = [];
    for (var i = 0; i < all.length; i++) {
      var c = all[i];
      if (hasFlag(c.type, ComponentType.Prerequiste) && ComponentList.fitsArchitecture(c) && !ComponentList.isInstalled(c)) list.push(c);
    }
    return list;
  },

  show: function (components) {
    var $list = $("#components").empty();
    for (var i = 0; i < components.length; i++) {
      var c = components[i];
      var must = hasFlag(c.type, ComponentType.MustSelect);
      var $box = $('<input type="checkbox">').attr("data-name", c.name).prop("checked", ComponentList.isSelected(c)).prop("disabled", must);
      var $label = $("<label></label>").append($box).append(" ").append($("<span></span>").text(ComponentList.displayName(c)));
      $("<li class=\"choice\"></li>").append($label).appendTo($list);
    }
  },

  save: function () {
    $("#components input[type=checkbox]").each(function () {
      setProp($(this).attr("data-name"), boolText(this.checked));
    });
  }
};

$(function () {
  var components = Prerequisite.components();
  if (components.length === 0) {
    Navigator.nextPage();
    return;
  }
  Page.init();
  Prerequisite.show(components);
  $("#btn-back").on("click", function () {
    Navigator.previousPage();
  });
  $("#btn-next").on("click", function () {
    Prerequisite.save();
    Navigator.nextPage();
  });
});
