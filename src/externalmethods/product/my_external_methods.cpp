#include "externalmethods/product/my_external_methods.h"

namespace myexternalmethods {

MyExternalMethods::MyExternalMethods(stubframework::core::Application* app) : ExternalMethods(app) {
  RegisterRows<stubframework::kBaseMethodCount>(std::make_index_sequence<stubframework::kProductMethodCount>());
}

}  // namespace myexternalmethods
