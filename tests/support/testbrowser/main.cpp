// A browser for the desktop tests: fetches the URL it is given, follows the
// redirects (as a browser does after the user agrees on Google's page), and
// exits. Set as BROWSER for the program under test.

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 2) {
        fprintf(stderr, "usage: testbrowser URL\n");
        return 2;
    }
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(arguments.at(1))};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(20000);
    QNetworkReply *reply = network.get(request);
    QObject::connect(reply, &QNetworkReply::finished, &app, [&] {
        const bool ok = reply->error() == QNetworkReply::NoError;
        if (!ok)
            fprintf(stderr, "testbrowser: %s\n", qPrintable(reply->errorString()));
        app.exit(ok ? 0 : 1);
    });
    return app.exec();
}
