// Where an answer comes from: QUILLBOX_NSS_PASSWORD_FILE when it is set (so that scripts and
// signing run unattended, whatever prompt a host installs), else the installed prompt.
//
// NSS tells the callback only whether the answer before was wrong within one login (`retry`),
// and each caller (the store's listing, a key lookup, a signature) starts a login of its own. The
// wrong answers are therefore counted here per token, across callers: three wrong answers in a
// row and the token is not asked again in this session; the file, which can only say the same
// again, gets one. An answer NSS did not call back about as wrong ended its login: it was right
// (or the token refused for another reason), so the count starts over, as a card's does.
#include "nss_passwords.h"

#include "nss_session.h"

#include <pk11pub.h>
#include <secport.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace qb::platform::nss {
namespace {

constexpr int kMaxWrongAnswers = 3;

struct Tries {
  int wrong = 0;         // wrong answers in a row
  bool pending = false;  // an answer was given and NSS has not said yet that it was wrong
};

struct Passwords {
  std::mutex lock;
  QB_CRYPT_PASSWORD_PROMPT prompt = nullptr;
  void* context = nullptr;
  std::vector<std::pair<std::string, Tries>> tries;  // by token; a handful at most

  Tries& For(const std::string& token) {
    for (auto& [key, value] : tries) {
      if (key == token) return value;
    }
    return tries.emplace_back(token, Tries{}).second;
  }
};

// Constant-initialised, so it is destroyed only after the session's exit handler, which forgets
// the counts as it closes the session.
constinit Passwords gPasswords;

Passwords& ThePasswords() { return gPasswords; }

// A password that wipes itself.
class Secret {
 public:
  Secret() { text_.reserve(512); }  // room enough that filling it never leaves a copy behind
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret() {
    text_.resize(text_.capacity());  // within the capacity: the same buffer, all of it wiped
    explicit_bzero(text_.data(), text_.size());
  }
  std::string& text() { return text_; }
  char* NssCopy() const { return PORT_Strdup(text_.c_str()); }

 private:
  std::string text_;
};

std::string Field(const unsigned char* bytes, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(bytes), size);
  const auto end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// A token is told apart by its label, maker and serial number, which stay the same across
// sessions, unlike NSS's slot numbers.
std::string TokenKey(PK11SlotInfo* slot, const CK_TOKEN_INFO* info) {
  std::string key = PK11_GetTokenName(slot) != nullptr ? PK11_GetTokenName(slot) : "";
  if (info != nullptr) {
    key += '\n' + Field(info->manufacturerID, sizeof info->manufacturerID);
    key += '\n' + Field(info->serialNumber, sizeof info->serialNumber);
  }
  return key;
}

bool FromFile(const char* file, Secret& answer) {
  std::ifstream in(file, std::ios::binary);
  std::string& line = answer.text();
  if (!in || !std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

bool FromPrompt(Secret& answer, QB_CRYPT_PASSWORD_PROMPT prompt, void* context, PK11SlotInfo* slot,
                                 const CK_TOKEN_INFO* info, int wrong) {
  const std::string database = DatabaseOfSlot(slot);
  const char* token = PK11_GetTokenName(slot);
  const CK_FLAGS flags = info != nullptr ? info->flags : 0;
  QB_CRYPT_PASSWORD_REQUEST request{};
  request.cbSize = sizeof request;
  request.tokenName = token != nullptr ? token : "";
  request.database = database.c_str();
  // NSS's own software tokens are databases with a password; everything else is a card's PIN.
  request.pin = PK11_IsInternal(slot) ? FALSE : TRUE;
  request.retry = wrong > 0 ? TRUE : FALSE;
  request.triesLeft = static_cast<DWORD>(kMaxWrongAnswers - wrong);
  request.finalTry = (flags & CKF_USER_PIN_FINAL_TRY) != 0 ? TRUE : FALSE;
  request.countLow = (flags & CKF_USER_PIN_COUNT_LOW) != 0 ? TRUE : FALSE;
  char buffer[512] = {};
  const bool answered = prompt(context, &request, buffer, sizeof buffer) != FALSE;
  if (answered) {
    buffer[sizeof buffer - 1] = '\0';
    answer.text().assign(buffer);
  }
  explicit_bzero(buffer, sizeof buffer);
  return answered;
}

}  // namespace

char* PasswordCallback(PK11SlotInfo* slot, PRBool retry, void*) {
  if (slot == nullptr) return nullptr;
  // A database that was never given a password (its key database was missing or empty) has none
  // to ask for: it holds no private key, and any answer would be a wrong one. (A card's module
  // may not report the flag at all.)
  if (PK11_IsInternal(slot) && PK11_NeedUserInit(slot)) return nullptr;
  CK_TOKEN_INFO info{};
  const bool haveInfo = PK11_GetTokenInfo(slot, &info) == SECSuccess;
  // A locked PIN takes no answer at all; asking would only make the user type in vain.
  if (haveInfo && (info.flags & CKF_USER_PIN_LOCKED) != 0) return nullptr;
  const std::string key = TokenKey(slot, haveInfo ? &info : nullptr);

  Passwords& passwords = ThePasswords();
  QB_CRYPT_PASSWORD_PROMPT prompt = nullptr;
  void* context = nullptr;
  int wrong = 0;
  {
    std::lock_guard guard(passwords.lock);
    Tries& tries = passwords.For(key);
    if (tries.pending) {
      tries.wrong = retry ? tries.wrong + 1 : 0;
      tries.pending = false;
    }
    if (tries.wrong >= kMaxWrongAnswers) return nullptr;
    wrong = tries.wrong;
    prompt = passwords.prompt;
    context = passwords.context;
  }

  Secret answer;
  bool answered = false;
  if (const char* file = std::getenv("QUILLBOX_NSS_PASSWORD_FILE"); file != nullptr && *file != '\0') {
    if (wrong > 0) return nullptr;
    answered = FromFile(file, answer);
  } else if (prompt != nullptr) {
    // Not under the lock: the user may take a while, and other tokens may be asked meanwhile.
    answered = FromPrompt(answer, prompt, context, slot, haveInfo ? &info : nullptr, wrong);
  }
  if (!answered) return nullptr;
  {
    std::lock_guard guard(passwords.lock);
    passwords.For(key).pending = true;
  }
  return answer.NssCopy();
}

void SetPasswordPrompt(QB_CRYPT_PASSWORD_PROMPT prompt, void* context) {
  Passwords& passwords = ThePasswords();
  std::lock_guard guard(passwords.lock);
  passwords.prompt = prompt;
  passwords.context = context;
}

void ForgetPasswordTries() {
  Passwords& passwords = ThePasswords();
  std::lock_guard guard(passwords.lock);
  passwords.tries.clear();
}

}  // namespace qb::platform::nss
