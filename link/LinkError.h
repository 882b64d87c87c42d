#pragma once

#include "RuntimeError.h"

// The MODBUS485 library or one of its entry points could not be found.
class LinkError : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};
