// The product's method table: the framework's names plus the product's own.
#pragma once

#include "externalmethods/external_methods.h"

namespace stubframework::externalmethods {

class MyExternalMethods : public ExternalMethods {
 public:
  explicit MyExternalMethods(MethodHost* host);
};

}  // namespace stubframework::externalmethods
