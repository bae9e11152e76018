// What the password prompt says, the same in the window and on the terminal. A card is asked for
// its PIN and told what its own counters say; a database is asked for its password.
#include "frontends.h"

namespace qb::cryptdlg {
namespace {

std::string Secret(const PasswordRequest& request) { return request.pin ? "PIN" : "password"; }

}  // namespace

std::string PasswordWarning(const PasswordRequest& request) {
  std::string text;
  if (request.retry) text += "The " + Secret(request) + " was not accepted.\n";
  if (request.finalTry) {
    text += "The token locks after one more wrong PIN.\n";
  } else if (request.countLow && request.pin) {
    text += "The token has counted wrong PINs; it may lock after a few more.\n";
  }
  if (request.retry && request.triesLeft > 0) {
    text += request.triesLeft == 1 ? std::string("This is the last try.\n")
                                   : std::to_string(request.triesLeft) + " tries are left.\n";
  }
  return text;
}

std::string PasswordQuestion(const PasswordRequest& request) {
  std::string token = request.tokenName;
  if (token.empty()) token = request.pin ? "the token" : "the certificate database";
  return (request.pin ? "PIN for " : "Password for ") + token + ": ";
}

}  // namespace qb::cryptdlg
