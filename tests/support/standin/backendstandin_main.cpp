// Runs the backend stand-in on a fixed loopback port, so the program can be
// tried without the real backend:
//   wuggit-backend-standin &
//   WUGGIT_BACKEND_URL=http://127.0.0.1:8765/ wuggit

#include <backendstandin.h>
#include <platform.h>

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Lines reach a pipe or a log file as they happen.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("wuggit-backend-standin"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A loopback stand-in of the Wugg it! backend. One-time passwords are printed, not mailed."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port on 127.0.0.1 (default 8765, 0: any free one)."),
                                        QStringLiteral("port"), QStringLiteral("8765"));
    const QCommandLineOption latestOption(QStringLiteral("latest-version"),
                                          QStringLiteral("Newest published version (default 1.0.0)."),
                                          QStringLiteral("version"), QStringLiteral("1.0.0"));
    const QCommandLineOption minimumOption(QStringLiteral("min-version"),
                                           QStringLiteral("Lowest supported version (default 1.0.0)."),
                                           QStringLiteral("version"), QStringLiteral("1.0.0"));
    const QCommandLineOption tokensOption(QStringLiteral("print-tokens"),
                                          QStringLiteral("Start a session now and print its tokens."));
    parser.addOptions({portOption, latestOption, minimumOption, tokensOption});
    parser.process(application);

    bool portIsNumber = false;
    const uint port = parser.value(portOption).toUInt(&portIsNumber);
    if (!portIsNumber || port > 65535) {
        std::fprintf(stderr, "--port needs a number from 0 to 65535, not \"%s\"\n",
                     qPrintable(parser.value(portOption)));
        return 2;
    }

    BackendStandIn backend;
    backend.setMetadata(parser.value(minimumOption), parser.value(latestOption));
    if (!backend.listen(quint16(port))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u (in use?)\n", port);
        return 1;
    }
    QObject::connect(&backend, &BackendStandIn::requestAnswered, &application,
                     [](const QString &method, const QString &path, int status) {
                         std::printf("%s %s -> %d\n", qPrintable(method), qPrintable(path), status);
                     });

    std::printf("backend stand-in listening on %s\n", qPrintable(backend.url().toString()));
    if (parser.isSet(tokensOption)) {
        const BackendStandIn::Tokens tokens = backend.issueTokens();
        std::printf("accessToken: %s\nrefreshToken: %s\nprovider: %s\n", qPrintable(tokens.accessToken),
                    qPrintable(tokens.refreshToken), qPrintable(tokens.provider));
    }

    platform::quitOnTerminationSignals(application);
    const int status = application.exec();
    std::printf("backend stand-in stopped\n");
    return status;
}
