// Installer signatures on Windows (CNG), against the test server. The
// transfers themselves are the portable ../transfer_test.cpp.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/Updater.h"
#include "platform/Signature.h"
#include "tests/support/Files.h"
#include "tests/support/NetworkTest.h"
#include "tests/shells/win32/support/Process.h"

using namespace kivo::test;
using Signatures = NetworkTest;

// Signatures made on the Linux side by scripts/test-windows.sh with the test
// key pair: by `kivo-server sign` (.sig), by openssl (.openssl.sig) and by
// another key (.other.sig), each of the probe program it serves as installer.
TEST_F(Signatures, OnlyAProgramSignedByTheKeyIsKeptAsInstaller) {
    const std::string probe = TestExeFolder() + "kivo_probe.exe";
    const std::string key = *ReadBytes(TestExeFolder() + KIVO_SOURCE_RELATIVE_KEYS "update-test.pub.pem");
    const auto signature = [&](const char* suffix) { return ReadBytes(probe + suffix).value_or(""); };
    ASSERT_FALSE(signature(".sig").empty());
    EXPECT_TRUE(kivo::platform::VerifyFileSignature(probe, signature(".sig"), key));
    EXPECT_TRUE(kivo::platform::VerifyFileSignature(probe, signature(".openssl.sig"), key));
    EXPECT_FALSE(kivo::platform::VerifyFileSignature(probe, signature(".other.sig"), key));
    const std::string cut = signature(".sig").substr(0, signature(".sig").size() - 2);
    EXPECT_FALSE(kivo::platform::VerifyFileSignature(probe, cut, key));
    EXPECT_FALSE(
        kivo::platform::VerifyFileSignature(TestExeFolder() + "kivo_fake_browser.exe", signature(".sig"), key));
    EXPECT_FALSE(kivo::platform::VerifyFileSignature(probe, signature(".sig"), "-----BEGIN PUBLIC KEY-----\nAAAA\n"));

    // Through the update download: the signature is fetched beside the
    // installer and kept; without a good one nothing is kept.
    const std::string url = Server().BaseUrl() + "/update/update.exe";
    updater.SetUpdateKey(key);
    Server().SetUpdateFile(TestServer::Updater(), "");
    EXPECT_EQ(updater.DownloadUpdate(url), kivo::net::TransferResult::kReplaced);
    EXPECT_EQ(ReadBytes(updater.GetUpdatePath() + ".sig"), signature(".sig"));
    Server().SetStatus("/update/update.exe.sig", 404, 70);
    EXPECT_EQ(updater.DownloadUpdate(url), kivo::net::TransferResult::kUnsigned);
    EXPECT_FALSE(Exists(updater.GetUpdatePath()));
    EXPECT_FALSE(Exists(updater.GetUpdatePath() + ".sig"));
}
