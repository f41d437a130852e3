#pragma once

#include <QString>
#include <string>

// A certificate for 127.0.0.1 that is its own authority, and its key, as PEM
// files: what a TLS test server presents and what a client is told to trust.
struct TestCertificate {
    std::string certPath;
    std::string keyPath;
};

// Makes a fresh key and certificate in folder; throws std::runtime_error.
TestCertificate MakeTestCertificate(const QString& folder);
