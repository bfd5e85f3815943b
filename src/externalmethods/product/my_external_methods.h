// The product's method table: the framework's names plus the product's own.
#pragma once

#include "externalmethods/external_methods.h"

namespace myexternalmethods {

class MyExternalMethods : public stubframework::ExternalMethods {
 public:
  explicit MyExternalMethods(stubframework::core::Application* app);
};

}  // namespace myexternalmethods
