// SHA-256 on Windows through the system's own cryptography (BCrypt), which Windows keeps
// validated and patched: no cryptographic code of our own.
//
// bcrypt.dll is not one of the system's known DLLs, so a static import would be looked for in
// the program's own folder first, where anyone may have left a DLL of that name beside a
// downloaded installer. It is loaded here when first needed, by its full path in the system
// folder, and its functions are found by name.
#include "platform/digest.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <string>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace plat {

namespace {

struct BcryptCalls {
    decltype(&BCryptOpenAlgorithmProvider) open_algorithm = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) close_algorithm = nullptr;
    decltype(&BCryptCreateHash) create_hash = nullptr;
    decltype(&BCryptHashData) hash_data = nullptr;
    decltype(&BCryptFinishHash) finish_hash = nullptr;
    decltype(&BCryptDestroyHash) destroy_hash = nullptr;
    bool loaded = false;
};

template <typename F>
void find(HMODULE module, const char* name, F* out) {
    *out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Loaded once, on the first digest; never unloaded (the process keeps it to its end).
const BcryptCalls& bcrypt() {
    static const BcryptCalls calls = [] {
        BcryptCalls c;
        wchar_t system[MAX_PATH];
        UINT n = GetSystemDirectoryW(system, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return c;
        std::wstring path = std::wstring(system, n) + L"\\bcrypt.dll";
        // LOAD_LIBRARY_SEARCH_SYSTEM32 keeps bcrypt's own imports in the system folder too;
        // a system without it refuses the flag, and the full path alone must do.
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module) module = LoadLibraryExW(path.c_str(), nullptr, 0);
        if (!module) return c;
        find(module, "BCryptOpenAlgorithmProvider", &c.open_algorithm);
        find(module, "BCryptCloseAlgorithmProvider", &c.close_algorithm);
        find(module, "BCryptCreateHash", &c.create_hash);
        find(module, "BCryptHashData", &c.hash_data);
        find(module, "BCryptFinishHash", &c.finish_hash);
        find(module, "BCryptDestroyHash", &c.destroy_hash);
        c.loaded = c.open_algorithm && c.close_algorithm && c.create_hash && c.hash_data && c.finish_hash &&
                   c.destroy_hash;
        return c;
    }();
    return calls;
}

}  // namespace

// A failure of any BCrypt call is remembered until finish(), so that a damaged digest is
// never handed out as a good one.
struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool failed = false;

    State() {
        if (!bcrypt().loaded ||
            !BCRYPT_SUCCESS(bcrypt().open_algorithm(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            algorithm = nullptr;
        start();
    }
    ~State() {
        drop_hash();
        if (algorithm) bcrypt().close_algorithm(algorithm, 0);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // A fresh hash object; the system allocates its memory itself.
    void start() {
        drop_hash();
        failed = !algorithm || !BCRYPT_SUCCESS(bcrypt().create_hash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
        if (failed) hash = nullptr;
    }
    void drop_hash() {
        if (hash) bcrypt().destroy_hash(hash);
        hash = nullptr;
    }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}

Sha256::~Sha256() = default;

void Sha256::update(const void* bytes, std::size_t count) {
    // BCrypt takes a ULONG count and a non-const pointer that it only reads.
    auto* in = static_cast<UCHAR*>(const_cast<void*>(bytes));
    while (count > 0 && !state_->failed) {
        auto piece = static_cast<ULONG>(std::min<std::size_t>(count, 1u << 30));
        if (!BCRYPT_SUCCESS(bcrypt().hash_data(state_->hash, in, piece, 0))) state_->failed = true;
        in += piece;
        count -= piece;
    }
}

bool Sha256::finish(Sha256Digest* out) {
    bool ok = !state_->failed &&
              BCRYPT_SUCCESS(bcrypt().finish_hash(state_->hash, out->data(), static_cast<ULONG>(out->size()), 0));
    if (!ok) out->fill(0);
    // A finished BCrypt hash cannot take more bytes: the next digest needs a new one.
    state_->start();
    return ok;
}

}  // namespace plat
