// The desktop's secret store through QtKeychain, waited for no longer than
// asked. Failed (with the reason) when there is no Qt application, the
// keychain has no backend, fails, or does not answer in time.
#pragma once

#include <chrono>
#include <string>

#include "platform/secrets/secret_store.h"

// Whether the keychain is reached at all: a session bus is named and the
// VELMORA_SECRETS switch does not say "file".
bool KeychainWorthAsking();

// As SecretStore's calls; `denied` is set when the user refused access,
// which the file must not stand in for.
SecretResult KeychainRead(const std::u16string& key, std::chrono::milliseconds wait, bool* denied);
SecretResult KeychainWrite(const std::u16string& key, const std::u16string& value, std::chrono::milliseconds wait,
                           bool* denied);
SecretResult KeychainDelete(const std::u16string& key, std::chrono::milliseconds wait, bool* denied);
