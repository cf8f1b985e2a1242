// Small helpers shared by the service component tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "client/fib.h"
#include "services/IB_Services.h"

namespace svctest {

inline std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

// A 16-bit length followed by the text, as start blocks carry texts.
inline std::string Text16(const std::string& text) {
    return Bytes({static_cast<int>(text.size() & 0xFF), static_cast<int>(text.size() >> 8)}) + text;
}

inline std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) {
            out.push_back(' ');
        }
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// The client-error code a call raises, or -1000 when it raises none.
inline int ClientErrorCode(const std::function<void()>& call) {
    try {
        call();
    } catch (const fib::EFIBClientError& e) {
        return e.SQLCode();
    }
    return -1000;
}

// The components with their building blocks opened up for the tests.
class TestBackup : public fib::TpFIBBackupService {
public:
    using TpFIBBackupService::BuildStartItems;
    using TpFIBBackupService::StartItems;
    using TpFIBBackupService::TpFIBBackupService;
};

class TestRestore : public fib::TpFIBRestoreService {
public:
    using TpFIBRestoreService::BuildStartItems;
    using TpFIBRestoreService::StartItems;
    using TpFIBRestoreService::TpFIBRestoreService;
};

class TestControl : public fib::TpFIBBackupRestoreService {
public:
    using TpFIBBackupRestoreService::AppendStartNumber;
    using TpFIBBackupRestoreService::AppendStartText;
    using TpFIBBackupRestoreService::QueryItems;
    using TpFIBBackupRestoreService::QueryService;
    using TpFIBBackupRestoreService::ReadBufferInteger;
    using TpFIBBackupRestoreService::ReplyBuffer;
    using TpFIBBackupRestoreService::SelectAction;
    using TpFIBBackupRestoreService::StartItems;
    using TpFIBBackupRestoreService::TpFIBBackupRestoreService;
};

} // namespace svctest
