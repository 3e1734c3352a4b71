#include "ingeststandin.h"

#include <QDateTime>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QRegularExpression>

namespace {

QByteArray header(const QHttpServerRequest &request, const QByteArray &name)
{
    for (const auto &[key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

bool isEventId(const QString &id)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{32}$"));
    return pattern.match(id).hasMatch();
}

std::optional<QJsonObject> jsonObject(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

} // namespace

IngestStandIn::IngestStandIn(const QString &publicKey, const QString &projectId, QObject *parent)
    : QObject(parent), m_publicKey(publicKey), m_projectId(projectId)
{
    m_server.route(QStringLiteral("/api/<arg>/envelope/"),
                   [this](const QString &project, const QHttpServerRequest &request) {
                       return handle(project, request);
                   });
    m_server.setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        Attempt attempt;
        attempt.status = 404;
        attempt.problem = QStringLiteral("unexpected path %1").arg(request.url().path());
        m_attempts << attempt;
        responder.write(QHttpServerResponder::StatusCode::NotFound);
        Q_EMIT envelopeReceived();
    });
}

bool IngestStandIn::listen()
{
    m_port = m_server.listen(QHostAddress::LocalHost, 0);
    return m_port != 0;
}

QString IngestStandIn::dsn() const
{
    return QStringLiteral("http://%1@127.0.0.1:%2/%3").arg(m_publicKey).arg(m_port).arg(m_projectId);
}

QList<QJsonObject> IngestStandIn::acceptedEvents() const
{
    QList<QJsonObject> events;
    for (const Attempt &a : m_attempts)
        if (a.status == 200)
            events << a.event;
    return events;
}

QStringList IngestStandIn::problems() const
{
    QStringList list;
    for (const Attempt &a : m_attempts)
        if (!a.problem.isEmpty())
            list << a.problem;
    return list;
}

QString IngestStandIn::check(const QString &projectId, const QHttpServerRequest &request,
                             Attempt &attempt) const
{
    if (request.method() != QHttpServerRequest::Method::Post)
        return QStringLiteral("method is not POST");
    if (projectId != m_projectId)
        return QStringLiteral("project id %1 in the path, expected %2").arg(projectId, m_projectId);
    if (header(request, "Content-Type") != "application/x-sentry-envelope")
        return QStringLiteral("Content-Type is \"%1\"").arg(QString::fromUtf8(header(request, "Content-Type")));

    // X-Sentry-Auth: Sentry sentry_version=7, sentry_key=<key>, sentry_client=<name>/<version>
    const QString auth = QString::fromUtf8(header(request, "X-Sentry-Auth"));
    if (!auth.startsWith(QStringLiteral("Sentry ")))
        return QStringLiteral("X-Sentry-Auth is missing or not of the Sentry scheme: \"%1\"").arg(auth);
    QHash<QString, QString> fields;
    for (const QString &part : auth.mid(7).split(u',')) {
        const qsizetype eq = part.indexOf(u'=');
        if (eq > 0)
            fields.insert(part.left(eq).trimmed(), part.mid(eq + 1).trimmed());
    }
    if (fields.value(QStringLiteral("sentry_version")) != u"7")
        return QStringLiteral("sentry_version is not 7");
    if (fields.value(QStringLiteral("sentry_key")) != m_publicKey)
        return QStringLiteral("sentry_key is \"%1\"").arg(fields.value(QStringLiteral("sentry_key")));
    static const QRegularExpression clientPattern(QStringLiteral("^[^/\\s]+/[^/\\s]+$"));
    if (!clientPattern.match(fields.value(QStringLiteral("sentry_client"))).hasMatch())
        return QStringLiteral("sentry_client is not <name>/<version>");

    const QByteArray body = request.body();
    const qsizetype firstEnd = body.indexOf('\n');
    if (firstEnd < 0)
        return QStringLiteral("the envelope has no item");
    const auto envelopeHeader = jsonObject(body.left(firstEnd));
    if (!envelopeHeader)
        return QStringLiteral("the envelope header is not a JSON object");
    attempt.envelopeHeader = *envelopeHeader;
    const QString eventId = envelopeHeader->value(QStringLiteral("event_id")).toString();
    if (!isEventId(eventId))
        return QStringLiteral("envelope event_id \"%1\" is not 32 hex digits").arg(eventId);
    if (envelopeHeader->value(QStringLiteral("dsn")).toString() != dsn())
        return QStringLiteral("envelope dsn \"%1\" is not ours").arg(envelopeHeader->value(QStringLiteral("dsn")).toString());
    if (!QDateTime::fromString(envelopeHeader->value(QStringLiteral("sent_at")).toString(), Qt::ISODateWithMs).isValid())
        return QStringLiteral("envelope sent_at is not an ISO 8601 time");

    const qsizetype itemStart = firstEnd + 1;
    const qsizetype itemEnd = body.indexOf('\n', itemStart);
    if (itemEnd < 0)
        return QStringLiteral("the item header is not terminated");
    const auto itemHeader = jsonObject(body.mid(itemStart, itemEnd - itemStart));
    if (!itemHeader)
        return QStringLiteral("the item header is not a JSON object");
    attempt.itemHeader = *itemHeader;
    if (itemHeader->value(QStringLiteral("type")).toString() != u"event")
        return QStringLiteral("item type is not \"event\"");
    const QJsonValue lengthValue = itemHeader->value(QStringLiteral("length"));
    if (!lengthValue.isDouble())
        return QStringLiteral("the item header has no length");
    const qsizetype length = lengthValue.toInteger(-1);
    const qsizetype payloadStart = itemEnd + 1;
    if (length < 0 || payloadStart + length > body.size())
        return QStringLiteral("item length %1 runs past the body").arg(length);
    const qsizetype after = payloadStart + length;
    if (after < body.size() && body.at(after) != '\n')
        return QStringLiteral("the payload is longer than its item length");
    if (after + 1 < body.size())
        return QStringLiteral("unexpected data after the event item");
    const auto event = jsonObject(body.mid(payloadStart, length));
    if (!event)
        return QStringLiteral("the event payload is not a JSON object");
    attempt.event = *event;
    if (event->value(QStringLiteral("event_id")).toString() != eventId)
        return QStringLiteral("the event's event_id differs from the envelope's");
    return {};
}

QHttpServerResponse IngestStandIn::handle(const QString &projectId, const QHttpServerRequest &request)
{
    Attempt attempt;
    attempt.problem = check(projectId, request, attempt);
    if (!attempt.problem.isEmpty())
        attempt.status = 400;
    else if (m_refuseStatus != 0)
        attempt.status = m_refuseStatus;
    else
        attempt.status = 200;
    m_attempts << attempt;
    Q_EMIT envelopeReceived();

    const auto status = static_cast<QHttpServerResponder::StatusCode>(attempt.status);
    if (attempt.status == 200) {
        const QJsonObject answer{{QStringLiteral("id"), attempt.event.value(QStringLiteral("event_id"))}};
        return QHttpServerResponse(answer, status);
    }
    const QJsonObject answer{{QStringLiteral("detail"),
                              attempt.problem.isEmpty() ? QStringLiteral("refused") : attempt.problem}};
    return QHttpServerResponse(answer, status);
}
