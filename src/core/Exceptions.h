// Error kinds of the program. Each carries its message text; handlers do not catch them,
// the application's error report shows the text.
#pragma once
#include <stdexcept>
#include <string>

namespace tilvorn {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

#define TILVORN_EXCEPTION(Name, Base)                                \
    class Name : public Base {                                       \
    public:                                                          \
        explicit Name(const std::string& message) : Base(message) {} \
    }

TILVORN_EXCEPTION(EInvalidGraphic, Exception);
TILVORN_EXCEPTION(EInvalidGraphicOperation, Exception);
TILVORN_EXCEPTION(EReaderCodecs, Exception);
TILVORN_EXCEPTION(EColorConversionError, Exception);
TILVORN_EXCEPTION(EOutOfResources, Exception);
TILVORN_EXCEPTION(EOutOfMemory, Exception);
TILVORN_EXCEPTION(EStreamError, Exception);
TILVORN_EXCEPTION(EReadError, EStreamError);
TILVORN_EXCEPTION(EWriteError, EStreamError);
TILVORN_EXCEPTION(EFOpenError, EStreamError);
TILVORN_EXCEPTION(EFCreateError, EStreamError);
TILVORN_EXCEPTION(EConvertError, Exception);
TILVORN_EXCEPTION(EListError, Exception);
/// The platform canvas's own error ("Canvas does not allow drawing").
TILVORN_EXCEPTION(EInvalidOperation, Exception);

/// Arithmetic failures of the runtime, with the runtime's own messages.
TILVORN_EXCEPTION(EMathError, Exception);
TILVORN_EXCEPTION(EZeroDivide, EMathError);
TILVORN_EXCEPTION(EInvalidOp, EMathError);
TILVORN_EXCEPTION(EIntError, Exception);
TILVORN_EXCEPTION(EDivByZero, EIntError);
TILVORN_EXCEPTION(EIntOverflow, EIntError);

/// Ends an operation silently: the error report shows nothing for it.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    explicit EAbort(const std::string& message) : Exception(message) {}
};

#undef TILVORN_EXCEPTION

inline const char* const kZeroDivideError = "Floating point division by zero";
inline const char* const kInvalidOpError = "Invalid floating point operation";
inline const char* const kDivByZeroError = "Division by zero";
inline const char* const kIntOverflowError = "Integer overflow";
inline const char* const kStreamReadError = "Stream read error";
inline const char* const kStreamWriteError = "Stream write error";

}  // namespace tilvorn
