#pragma once

#include "keychainoperating.h"

// The keychain of the session: the Secret Service over D-Bus, through our
// own client (through QtKeychain on KDE, where it keeps items in KWallet).
// Each service name holds one item under the program's account.
// Saves and deletes return at once: a keyring that is slow, or waits for
// the user to unlock it, must not hold up the caller (the tray's thread).
// Every call goes into one queue, so they reach the keychain in the order
// made. Only readKeychainData blocks its caller, up to kTimeoutMs, without
// running an event loop on its thread. Nothing is ever written anywhere
// else: without a usable keychain nothing is stored, and the program says
// why once per run (no Secret Service, a locked keyring, or one that does
// not answer).
class KeychainOperator : public KeychainOperating
{
public:
    // The account of every item this program writes.
    static constexpr const char *kAccount = "it.wugg.wuggit";
    // A blocking read the keychain has not answered by then counts as
    // failed (an unlock prompt left open, a hung daemon).
    static constexpr int kTimeoutMs = 30000;
    // A read left unanswered this long makes the program say so (and the
    // token store stop waiting for it); its answer still counts when it comes.
    static constexpr int kSlowAnswerMs = 5000;

    void saveKeychainData(const QByteArray &data, const QString &service) override;
    std::optional<QByteArray> readKeychainData(const QString &service) override;
    void readKeychainDataLater(const QString &service, std::function<void(std::optional<QByteArray>)> done) override;
    void deleteKeychainData(const QString &service) override;
};
