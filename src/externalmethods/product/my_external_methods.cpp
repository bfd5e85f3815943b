#include "externalmethods/product/my_external_methods.h"

namespace stubframework::externalmethods {

MyExternalMethods::MyExternalMethods(MethodHost* host) : ExternalMethods(host) {
  RegisterRows<kBaseMethodCount>(std::make_index_sequence<kProductMethodCount>());
}

}  // namespace stubframework::externalmethods
