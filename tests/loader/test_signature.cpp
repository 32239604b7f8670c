// Signed packages in a build that trusts the project's release key (the
// test key pair the build generates): what is refused and what is sent.
// The loader's own reads (LectureEntete, ChecksumFichier) judge each file.
#include "crypto.h"
#include "loader_state.h"
#include "package.h"
#include "package_file.h"
#include "popup_helper.h"
#include "program_fixture.h"
#include "trailer.h"
#include "trust.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Signer {
    Ed25519Seed seed{};
    Ed25519PublicKey key{};
};

Signer releaseKey()
{
    Signer signer;
    QFile file(QUORVEL_TEST_RELEASE_KEY);
    if (!file.open(QIODevice::ReadOnly)
        || !ReadPrivateKeyText(file.readAll().toStdString(), &signer.seed, &signer.key))
        qFatal("no test release key at %s", QUORVEL_TEST_RELEASE_KEY);
    return signer;
}

Signer demoKey()
{
    return {kDemoSeed, kDemoPublicKey};
}

Signer newKey()
{
    Signer signer;
    if (!GenerateEd25519(&signer.seed, &signer.key))
        qFatal("no key pair");
    return signer;
}

Sha256Digest digestOf(const QByteArray &bytes)
{
    return Sha256(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// "V0 S0 V1 S1\n", the images, and a trailer signed by `signer`.
QByteArray signedPackage(const QByteArray &version0, const QByteArray &image0, const QByteArray &version1,
                         const QByteArray &image1, const Signer &signer, PackageKind kind = PackageKind::Release)
{
    const QByteArray header = version0 + " " + QByteArray::number(image0.size()) + " " + version1 + " "
                              + QByteArray::number(image1.size()) + "\n";
    Manifest manifest;
    manifest.kind = kind;
    manifest.header = digestOf(header);
    manifest.images[0] = {static_cast<int32_t>(image0.size()), version0.toStdString(), digestOf(image0)};
    manifest.images[1] = {static_cast<int32_t>(image1.size()), version1.toStdString(), digestOf(image1)};
    const QByteArray body = header + image0 + image1;
    const std::string trailer = SignedTrailer(manifest, static_cast<uint64_t>(body.size()), signer.seed, signer.key);
    return body + QByteArray(trailer.data(), static_cast<qsizetype>(trailer.size()));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    return writePackage(path, bytes, {});
}

QByteArray fromHex(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// The program itself, run from a folder of its own (--as-quorvel [PNG]):
// the popup it shows instead of its window (drawn into PNG when given), or
// the window's title.
int runAsQuorvel(const char *picture)
{
    static char name[] = "Quorvel";
    static char *arguments[] = {name, nullptr};
    static int count = 1;
    QApplication application(count, arguments);
    const auto popup = answerNextPopup(Qt::Key_Return, 0, 60000, [picture] {
        if (picture)
            QApplication::activeModalWidget()->grab().save(picture);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&poll] {
        if (QWidget *window = fixture::window()) {
            poll.stop();
            std::printf("window: %s\n", qPrintable(window->windowTitle()));
            window->close();
        }
    });
    poll.start(20);
    const int result = QuorvelMain(count, arguments);
    if (popup->answered)
        std::printf("popup: %s | %s\n", qPrintable(popup->title), qPrintable(popup->text));
    std::printf("ended: %d\n", result);
    return 0;
}

} // namespace

class SignatureTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }
    const QByteArray image0 = randomImage(40, 81);
    const QByteArray image1 = randomImage(30, 82);

    // The loader's start-up read of `bytes` as vers.kq: its verdict.
    PackageVerdict verdictOf(const QByteArray &bytes)
    {
        if (!writeFile(path("vers.kq"), bytes))
            qFatal("cannot write the package");
        loader.packagePath = path("vers.kq").toStdString();
        LectureEntete();
        return loader.packageVerdict;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QCOMPARE(TrustedKeys().size(), std::size_t(1));  // the release key, built in
        QVERIFY(SignaturesVerifiees());
    }

    // The library as used here gives RFC 8032's own signature (test 1), and
    // the second encoding of it (S + L) is refused.
    void ed25519AsTheRfcSigns()
    {
        const QByteArray seed = fromHex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
        const QByteArray key = fromHex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
        const QByteArray expected = fromHex("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
                                            "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b");
        Signer signer;
        std::memcpy(signer.seed.data(), seed.constData(), 32);
        std::memcpy(signer.key.data(), key.constData(), 32);
        Ed25519Signature signature{};
        QVERIFY(SignEd25519(signer.seed, signer.key, nullptr, 0, &signature));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(signature.data()), 64), expected);
        QVERIFY(VerifyEd25519(signer.key, nullptr, 0, signature));

        // S + L, little-endian: the same signature in another encoding.
        static const uint8_t order[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                          0xa2, 0xde, 0xf9, 0xde, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                          0, 0, 0, 0x10};
        Ed25519Signature other = signature;
        unsigned carry = 0;
        for (int i = 0; i < 32; ++i) {
            const unsigned sum = other[32 + i] + order[i] + carry;
            other[32 + i] = static_cast<uint8_t>(sum);
            carry = sum >> 8;
        }
        QCOMPARE(carry, 0u);
        QVERIFY(!VerifyEd25519(signer.key, nullptr, 0, other));
    }

    void verdicts_data()
    {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("popup");  // what the refusal says
        const QByteArray body = "1.5 40 2.05 30\n" + image0 + image1;
        const Signer other = newKey();
        QTest::newRow("release signed by the release key")
            << signedPackage("1.5", image0, "2.05", image1, releaseKey()) << int(PackageVerdict::Verified) << "";
        QTest::newRow("unsigned") << body << int(PackageVerdict::Unsigned) << "is not signed";
        QTest::newRow("the old demo line") << body + kDemoMarkerLine << int(PackageVerdict::Unsigned)
                                           << "is not signed";
        QTest::newRow("demo, by the demo key")
            << signedPackage("1.5", image0, "2.05", image1, demoKey(), PackageKind::Demo)
            << int(PackageVerdict::Demo) << "is a demo package";
        QTest::newRow("release kind, by the demo key")
            << signedPackage("1.5", image0, "2.05", image1, demoKey()) << int(PackageVerdict::UntrustedKey)
            << "signed by key " + QString::fromStdString(KeyIdText(KeyIdOf(kDemoPublicKey)));
        QTest::newRow("demo kind, by the release key")
            << signedPackage("1.5", image0, "2.05", image1, releaseKey(), PackageKind::Demo)
            << int(PackageVerdict::Demo) << "is a demo package";
        QTest::newRow("an untrusted key")
            << signedPackage("1.5", image0, "2.05", image1, other) << int(PackageVerdict::UntrustedKey)
            << "signed by key " + QString::fromStdString(KeyIdText(KeyIdOf(other.key)));
        QTest::newRow("no header") << QByteArray("no header\n") << int(PackageVerdict::Unreadable)
                                   << "could not be read whole";
    }
    void verdicts()
    {
        QFETCH(QByteArray, package);
        QFETCH(int, verdict);
        QFETCH(QString, popup);
        QCOMPARE(int(verdictOf(package)), verdict);
        const QString refusal = QString::fromStdString(RefusPackage(0));
        QCOMPARE(refusal.isEmpty(), popup.isEmpty());
        QVERIFY2(refusal.contains(popup), qPrintable(refusal));
        // A refused package gives no image to send, whoever asks.
        loader.imageSize = loader.packageSizes[0];
        QCOMPARE(ChecksumFichier(0) == 0, popup.isEmpty());
    }

    // Every byte of a signed package matters: each change of one byte,
    // each truncation and each appended byte is refused.
    void everyChangeIsRefused()
    {
        const QByteArray good = signedPackage("1.5", image0, "2.05", image1, releaseKey());
        QCOMPARE(verdictOf(good), PackageVerdict::Verified);
        int refused = 0;
        for (int at = 0; at < good.size(); ++at) {
            for (const char flip : {'\x01', '\x80', '\xff'}) {
                QByteArray changed = good;
                changed[at] = static_cast<char>(changed[at] ^ flip);
                const PackageVerdict verdict = verdictOf(changed);
                QVERIFY2(verdict != PackageVerdict::Verified && !RefusPackage(0).empty(),
                         qPrintable(QString("byte %1 ^ %2").arg(at).arg(int(uint8_t(flip)))));
                ++refused;
            }
        }
        for (int length = 0; length < good.size(); ++length) {
            QVERIFY2(verdictOf(good.left(length)) != PackageVerdict::Verified, qPrintable(QString::number(length)));
            ++refused;
        }
        for (const QByteArray &extra : {QByteArray(1, '\0'), QByteArray("\n"), QByteArray(1, '\xff'),
                                        good.right(int(kFooterSize)), good.mid(good.size() - 413)}) {
            QVERIFY(verdictOf(good + extra) != PackageVerdict::Verified);
            ++refused;
        }
        qInfo("%d altered packages refused, of a %lld-byte signed package", refused,
              static_cast<long long>(good.size()));
    }

    // The file replaced between start-up and "START OK": the image loaded
    // for sending is not the one verified, and nothing of it may go out.
    void swapBeforeStartOk_data()
    {
        QTest::addColumn<QByteArray>("swapped");
        QTest::addColumn<int>("result");
        const QByteArray otherImage0 = randomImage(40, 83);
        QTest::newRow("same header, other image, signed by the release key")
            << signedPackage("1.5", otherImage0, "2.05", image1, releaseKey()) << kPackageChanged;
        QTest::newRow("same header, other image, unsigned")
            << "1.5 40 2.05 30\n" + otherImage0 + image1 << kPackageChanged;
        QTest::newRow("the same package again") << signedPackage("1.5", image0, "2.05", image1, releaseKey())
                                                << 0;
    }
    void swapBeforeStartOk()
    {
        QFETCH(QByteArray, swapped);
        QFETCH(int, result);
        QCOMPARE(verdictOf(signedPackage("1.5", image0, "2.05", image1, releaseKey())), PackageVerdict::Verified);
        QVERIFY(writeFile(path("vers.kq"), swapped));
        loader.imageChecksum = 0x1234;
        loader.imageSize = loader.packageSizes[0];
        QCOMPARE(ChecksumFichier(0), result);
        if (result == 0) {
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(loader.imageBuffer.load()), 40), image0);
            QCOMPARE(static_cast<quint32>(loader.imageChecksum), referenceChecksum(image0));
        } else {
            QCOMPARE(loader.imageChecksum, 0x1234);  // no header can announce the swapped image
        }
    }

    // The administrator's key folder: only what root alone could write is
    // trusted, and what is ignored is said.
    void keyFolder()
    {
        std::vector<TrustedKey> keys;
        std::vector<std::string> ignored;
        ReadTrustedKeys(qPrintable(dir.path()), &keys, &ignored);  // under /tmp, which anyone may write
        QCOMPARE(keys.size(), std::size_t(1));                    // the built-in key alone
        QCOMPARE(ignored.size(), std::size_t(1));
        QVERIFY2(QString::fromStdString(ignored[0]).contains("writable by users other than root"), ignored[0].c_str());

        if (::geteuid() != 0)
            QSKIP("the rest needs root, to own the files as root and as someone else");
        // A folder whose every parent only root may write: beside this test.
        const QString folder = QCoreApplication::applicationDirPath() + "/trusted-keys";
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(folder));
        ::chmod(qPrintable(folder), 0755);
        const Signer a = newKey(), b = newKey(), c = newKey();
        const auto put = [&](const QString &name, const std::string &text, mode_t mode, uid_t owner) {
            const QString file = folder + "/" + name;
            QVERIFY(writeFile(file, QByteArray::fromStdString(text)));
            QCOMPARE(::chmod(qPrintable(file), mode), 0);
            QCOMPARE(::chown(qPrintable(file), owner, 0), 0);
        };
        put("a.pub", PublicKeyText(a.key), 0644, 0);
        put("b.pub", PublicKeyText(b.key), 0666, 0);
        put("c.pub", PublicKeyText(c.key), 0644, 65534);
        put("demo.pub", PublicKeyText(kDemoPublicKey), 0644, 0);
        put("private.key", PrivateKeyText(a.seed, a.key), 0600, 0);
        QVERIFY(QFile::link(folder + "/b.pub", folder + "/link.pub"));
        keys.clear();
        ignored.clear();
        ReadTrustedKeys(qPrintable(folder), &keys, &ignored);
        QStringList origins;
        for (const TrustedKey &key : keys)
            origins << QString::fromStdString(key.origin);
        QCOMPARE(origins, (QStringList{"built in (release.pub)", folder + "/a.pub"}));
        QStringList said;
        for (const std::string &line : ignored)
            said << QString::fromStdString(line);
        QCOMPARE(said, (QStringList{folder + "/b.pub: writable by users other than root",
                                    folder + "/c.pub: not owned by root",
                                    folder + "/demo.pub: the demo key, which no build trusts",
                                    folder + "/link.pub: not a regular file",
                                    folder + "/private.key: not a public key file"}));
        QDir(folder).removeRecursively();
    }

    // The window, copied with its package into a folder: a refused package
    // shows the error popup instead of the window, and says why.
    void windowRefuses_data()
    {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QString>("expected");
        const QByteArray good = signedPackage("1.5", image0, "2.05", image1, releaseKey());
        QByteArray altered = good;
        altered[20] = static_cast<char>(altered[20] ^ 1);
        const Signer other = newKey();
        QTest::newRow("signed") << good << "window: Quorvel";
        QTest::newRow("one byte altered")
            << altered << "popup: Error! | 'vers.kq' does not match its signature: it was changed after it was signed.";
        QTest::newRow("trailer stripped") << good.left(15 + 70)
                                          << "popup: Error! | 'vers.kq' is not signed";
        QTest::newRow("untrusted key")
            << signedPackage("1.5", image0, "2.05", image1, other)
            << "popup: Error! | 'vers.kq' is signed by key " + QString::fromStdString(KeyIdText(KeyIdOf(other.key)));
    }
    void windowRefuses()
    {
        QFETCH(QByteArray, package);
        QFETCH(QString, expected);
        QTemporaryDir folder;
        const QString program = folder.filePath("Quorvel");
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
        QVERIFY(writeFile(folder.filePath("vers.kq"), package));
        QProcess run;
        run.start(program, {"--as-quorvel"});
        QVERIFY(run.waitForFinished(60000));
        const QString out = QString::fromUtf8(run.readAllStandardOutput());
        QVERIFY2(out.contains(expected), qPrintable(out));
        QCOMPARE(out.contains("window:"), expected.startsWith("window:"));
    }
};

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--as-quorvel") == 0)
        return runAsQuorvel(argc >= 3 ? argv[2] : nullptr);
    QCoreApplication application(argc, argv);
    SignatureTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_signature.moc"
