// qbcrx: packs an unpacked Chromium extension into a signed CRX3 at build time, so that the
// extension's private key stays in the source tree and is never installed.
//   qbcrx --key KEY.pem --output OUT.crx DIRECTORY
//   qbcrx --key KEY.pem --print-id
#include "qbcrx/crx3.h"
#include "qbcrx/rsa_key.h"
#include "qbcrx/stored_zip.h"

#include <nss.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::stringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// Written beside the target and renamed over it, so a failed step leaves no half archive that a
// later build would take as up to date.
void WriteFile(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".part";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << bytes;
    file.close();
    if (!file) throw std::runtime_error("cannot write " + temporary);
  }
  std::filesystem::rename(temporary, path);
}

int Run(const std::vector<std::string>& arguments) {
  std::string key;
  std::string output;
  std::string directory;
  bool printId = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if ((argument == "--key" || argument == "--output") && i + 1 < arguments.size()) {
      (argument == "--key" ? key : output) = arguments[++i];
    } else if (argument == "--print-id") {
      printId = true;
    } else if (!argument.starts_with("-") && directory.empty()) {
      directory = argument;
    } else {
      throw std::invalid_argument("unexpected argument " + argument);
    }
  }
  if (key.empty() || (!printId && (output.empty() || directory.empty()))) {
    throw std::invalid_argument("usage: qbcrx --key KEY.pem (--output OUT.crx DIRECTORY | --print-id)");
  }
  const qbcrx::RsaKey rsa = qbcrx::RsaKey::FromPem(ReadFile(key));
  if (printId) {
    std::printf("%s\n", qbcrx::ExtensionId(rsa.SubjectPublicKeyInfo()).c_str());
    return 0;
  }
  WriteFile(output, qbcrx::PackCrx3(qbcrx::StoredZip(qbcrx::EntriesOf(directory)), rsa));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 1;
  try {
    status = Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& error) {
    std::fprintf(stderr, "qbcrx: %s\n", error.what());
    status = 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "qbcrx: %s\n", error.what());
    status = 1;
  }
  if (NSS_IsInitialized()) NSS_Shutdown();
  return status;
}
