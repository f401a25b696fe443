// The fake's Authenticode: a signature is a block appended to the file's
// bytes that names the signer and holds a digest of everything before it,
// so a signed download stays signed and a changed byte breaks it.
#include <list>
#include <set>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/trust.h"

namespace fake {
namespace {

using namespace platform;

constexpr char kMarker[] = "\n--fake-authenticode--\n";
constexpr char kSeparator = '\x1f';
constexpr uint32_t kTrustEProviderUnknown = 0x800B0001;
constexpr uint32_t kEInvalidArgument = 0x80070057;
constexpr uint32_t kEHandle = 0x80070006;

struct Certificate {
  std::wstring commonName;
  std::wstring organization;
};

// A signer of CRYPT_PROVIDER_SGNR; its certificate 0 is its own.
struct SignerEntry {
  Certificate certificate;
};

struct State {
  bool signedFile = false;
  SignerEntry primary;
  bool timestamped = false;
  SignerEntry timestamp;
};

std::list<State> g_states;
std::vector<TrustCall> g_calls;
std::function<void(const TrustCall&)> g_onVerify;

void ResetTrust() {
  g_states.clear();
  g_calls.clear();
  g_onVerify = nullptr;
}

ResetHook g_resetTrust(ResetTrust);

std::string Fnv1a(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3;
  }
  return std::to_string(hash);
}

std::string Encode(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += std::to_string(static_cast<uint32_t>(c)) + ",";
  return out;
}

std::wstring Decode(const std::string& text) {
  std::wstring out;
  size_t start = 0;
  for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1) {
    out += static_cast<wchar_t>(std::stoul(text.substr(start, comma - start)));
  }
  return out;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t next = text.find(kSeparator, start);
    fields.push_back(text.substr(start, next - start));
    if (next == std::string::npos) return fields;
    start = next + 1;
  }
}

// The signature at the end of `bytes`: false when there is none.
bool ParseSignature(const std::string& bytes, std::string* content, Signer* signer,
                    std::string* digest) {
  size_t at = bytes.rfind(kMarker);
  if (at == std::string::npos) return false;
  std::vector<std::string> fields = Split(bytes.substr(at + sizeof(kMarker) - 1));
  if (fields.size() != 7) return false;
  *content = bytes.substr(0, at);
  signer->commonName = Decode(fields[0]);
  signer->organization = Decode(fields[1]);
  signer->trustedRoot = fields[2] == "1";
  signer->revocation = static_cast<uint32_t>(std::stoul(fields[3]));
  signer->timestampCommonName = Decode(fields[4]);
  signer->timestampOrganization = Decode(fields[5]);
  *digest = fields[6];
  return true;
}

State* FindState(const void* pointer) {
  for (State& state : g_states) {
    if (&state == pointer) return &state;
  }
  return nullptr;
}

const Certificate* FindCertificate(const void* pointer) {
  for (const State& state : g_states) {
    if (&state.primary.certificate == pointer) return &state.primary.certificate;
    if (state.timestamped && &state.timestamp.certificate == pointer) {
      return &state.timestamp.certificate;
    }
  }
  return nullptr;
}

// What WinVerifyTrust answers for the bytes, and the signers it found.
uint32_t Verify(const std::string& bytes, bool checkRevocation, State* state) {
  std::string content, digest;
  Signer signer;
  if (!ParseSignature(bytes, &content, &signer, &digest)) return kTrustENosignature;
  state->signedFile = true;
  state->primary.certificate = {signer.commonName, signer.organization};
  state->timestamped = !signer.timestampCommonName.empty();
  state->timestamp.certificate = {signer.timestampCommonName, signer.timestampOrganization};
  if (Fnv1a(content) != digest) return kTrustEBadDigest;
  if (!signer.trustedRoot) return kCertEUntrustedroot;
  if (checkRevocation && signer.revocation) return signer.revocation;
  return 0;
}

}  // namespace

std::string SignedContent(const std::string& content, const Signer& signer) {
  std::string block = Encode(signer.commonName) + kSeparator + Encode(signer.organization) +
                      kSeparator + (signer.trustedRoot ? "1" : "0") + kSeparator +
                      std::to_string(signer.revocation) + kSeparator +
                      Encode(signer.timestampCommonName) + kSeparator +
                      Encode(signer.timestampOrganization) + kSeparator + Fnv1a(content);
  return content + kMarker + block;
}

const std::vector<TrustCall>& TrustCalls() { return g_calls; }

void OnWinVerifyTrust(std::function<void(const TrustCall&)> hook) { g_onVerify = std::move(hook); }

int OpenTrustStateCount() { return static_cast<int>(g_states.size()); }

}  // namespace fake

namespace platform {

uint32_t WinVerifyTrust(WindowHandle window, const Guid& action, WinTrustData* data) {
  fake::TrustCall call;
  call.window = window;
  call.genericVerifyV2 = action == kWintrustActionGenericVerifyV2;
  call.uiChoice = data->uiChoice;
  call.revocationChecks = data->revocationChecks;
  call.unionChoice = data->unionChoice;
  call.filePath = data->filePath;
  call.file = data->file;
  call.stateAction = data->stateAction;
  call.provFlags = data->provFlags;

  uint32_t result = 0;
  if (!call.genericVerifyV2) {
    result = fake::kTrustEProviderUnknown;
  } else if (data->stateAction == kWtdStateactionClose) {
    fake::State* state = fake::FindState(data->stateData);
    if (state) {
      fake::g_states.remove_if([state](const fake::State& s) { return &s == state; });
    }
    data->stateData = nullptr;
  } else if (data->unionChoice != kWtdChoiceFile) {
    result = fake::kEInvalidArgument;
  } else {
    std::string bytes;
    bool read = false;
    if (data->file) {
      read = fake::ReadWholeOpenFile(data->file, &bytes);
      if (!read) result = fake::kEHandle;
    } else {
      std::optional<std::string> content = fake::FileContent(data->filePath);
      read = content.has_value();
      if (read) bytes = *content;
      if (!read) result = static_cast<uint32_t>(HResultFromWin32(kErrorFileNotFound));
    }
    fake::State state;
    if (read) result = fake::Verify(bytes, data->revocationChecks != kWtdRevokeNone, &state);
    if (data->stateAction == kWtdStateactionVerify) {
      fake::g_states.push_back(state);
      data->stateData = &fake::g_states.back();
    }
  }
  call.result = result;
  fake::g_calls.push_back(call);
  if (data->stateAction == kWtdStateactionVerify && fake::g_onVerify) fake::g_onVerify(call);
  return result;
}

ProviderData WTHelperProvDataFromStateData(TrustState state) { return fake::FindState(state); }

ProviderSigner WTHelperGetProvSignerFromChain(ProviderData data, uint32_t signerIndex,
                                              bool counterSigner, uint32_t counterSignerIndex) {
  fake::State* state = fake::FindState(data);
  if (!state || !state->signedFile || signerIndex != 0) return nullptr;
  if (!counterSigner) return &state->primary;
  if (!state->timestamped || counterSignerIndex != 0) return nullptr;
  return &state->timestamp;
}

CertContext WTHelperGetProvCertFromChain(ProviderSigner signer, uint32_t certIndex) {
  for (fake::State& state : fake::g_states) {
    bool known = signer == &state.primary || (state.timestamped && signer == &state.timestamp);
    if (known && certIndex == 0) return &static_cast<fake::SignerEntry*>(signer)->certificate;
  }
  return nullptr;
}

uint32_t CertGetNameStringW(CertContext cert, uint32_t type, uint32_t flags, const char* oid,
                            std::wstring* name) {
  name->clear();
  const fake::Certificate* certificate = fake::FindCertificate(cert);
  if (!certificate || type != kCertNameAttrType || flags != 0) return 1;
  std::string attribute = oid ? oid : "";
  if (attribute == kSzOidCommonName) *name = certificate->commonName;
  if (attribute == kSzOidOrganizationName) *name = certificate->organization;
  return static_cast<uint32_t>(name->size() + 1);
}

}  // namespace platform
