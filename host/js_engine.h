// The Duktape heap of one script run and the rules every native function of the host follows.
#pragma once

#include <duktape.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <oaidl.h>

namespace quillbox::host::js {

// What the objects of one run share.
struct HostState {
  std::string scriptName;
  std::vector<std::string> arguments;  // UTF-8, as given on the command line
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool quitting = false;  // WScript.Quit was called
  int quitCode = 0;
  long liveObjects = 0;  // COM references held by script objects
  // Registers the component module on first use when its class is missing (the command does this;
  // unit tests leave it off).
  bool registerComponent = false;
};

// Owns one Duktape heap; destroying it runs the finalizers of every remaining object, which
// releases the COM objects that scripts still hold.
class Engine {
 public:
  explicit Engine(HostState& state);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  duk_context* context() const { return context_; }

 private:
  duk_context* context_;
};

HostState& StateOf(duk_context* ctx);

// Thrown from a native function's body: the value on top of the Duktape stack is to be thrown.
struct ThrowTop {};

// Pushes an Error whose message is `message`, with the status as `number` (as JScript's errors
// carry it) and the message also as `description`.
void PushError(duk_context* ctx, const std::string& message, HRESULT status);

// Runs a native function's body. Duktape unwinds errors with longjmp, which would skip the
// destructors of C++ objects on the way, so a failure is caught here, turned into a JavaScript
// error on the stack, and thrown only after every C++ object of the call is gone. Once the script
// has asked to quit, every native call throws the quit marker again, so a script's catch block
// cannot keep it running through the host.
void HandleNativeFailure(duk_context* ctx, const std::exception& failure);
void PushQuitMarker(duk_context* ctx);

template <typename Body>
duk_ret_t Guarded(duk_context* ctx, Body&& body) {
  if (StateOf(ctx).quitting) {
    PushQuitMarker(ctx);
  } else {
    try {
      return body();
    } catch (const ThrowTop&) {
      // The body pushed what is to be thrown.
    } catch (const std::exception& failure) {
      HandleNativeFailure(ctx, failure);
    } catch (...) {
      PushError(ctx, "internal error", E_UNEXPECTED);
    }
  }
  return duk_throw(ctx);
}


// Text of the value at `index` as a script would print it (String(value)); never throws.
std::u16string ToDisplayText(duk_context* ctx, duk_idx_t index);

}  // namespace quillbox::host::js
