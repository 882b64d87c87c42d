#pragma once

#include <stdexcept>
#include <string>

// The run-time errors a handler statement can raise. A handler abandons the one statement that raised
// and goes on with the next (see resumeNext); nothing else is caught.
class RuntimeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A number outside the signed 32-bit range.
class OverflowError : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

// An index that names no element of an array or control array.
class SubscriptError : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

// Runs one handler statement; if it raises a run-time error the statement is abandoned silently.
template <class Statement> void resumeNext(Statement &&statement) {
    try {
        statement();
    } catch (const RuntimeError &) {
    }
}
