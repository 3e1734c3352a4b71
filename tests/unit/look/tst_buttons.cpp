// The button styles, the Google button and the sign-in divider, each in a
// real window: states read from the items and from the drawn pixels.
#include <look.h>

#include <QAccessible>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <memory>

namespace {

const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kGray(0x8e, 0x8e, 0x93);
const QColor kGrey02(0x33, 0x33, 0x33);
const QColor kTransparent(Qt::transparent);

QColor colorOf(QObject *object, const char *property)
{
    return object->property(property).value<QColor>();
}

// Transparent colours differ only in alpha for our purposes.
bool sameColor(const QColor &a, const QColor &b)
{
    if (a.alpha() == 0 && b.alpha() == 0)
        return true;
    return a.rgba() == b.rgba();
}

bool near(const QColor &a, const QColor &b, int tolerance = 3)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class TestButtons : public QObject
{
    Q_OBJECT

private:
    QQmlEngine *m_engine = nullptr;
    std::unique_ptr<QQuickWindow> m_window;

    bool show(const QByteArray &qml)
    {
        QQmlComponent component(m_engine);
        component.setData("import QtQuick\nimport QtQuick.Layouts\nimport Look\n" + qml,
                          QUrl(QStringLiteral("qrc:/buttonstest.qml")));
        m_window.reset(qobject_cast<QQuickWindow *>(component.create()));
        if (!m_window) {
            qWarning() << component.errorString();
            return false;
        }
        m_window->show();
        m_window->requestActivate();
        return QTest::qWaitForWindowActive(m_window.get());
    }

    // Through the item tree: a Repeater's items have no QObject parent.
    static QQuickItem *findItem(QQuickItem *root, const QString &name)
    {
        const QList<QQuickItem *> children = root->childItems();
        for (QQuickItem *child : children) {
            if (child->objectName() == name)
                return child;
        }
        for (QQuickItem *child : children) {
            if (QQuickItem *found = findItem(child, name))
                return found;
        }
        return nullptr;
    }

    QQuickItem *item(const QString &name, QQuickItem *in = nullptr) const
    {
        return findItem(in ? in : m_window->contentItem(), name);
    }

    static QString accessibleName(QQuickItem *item)
    {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(item);
        return accessible ? accessible->text(QAccessible::Name) : QString();
    }

    static QPoint scenePoint(QQuickItem *item, QPointF local)
    {
        return item->mapToScene(local).toPoint();
    }

    static QPointF sceneCentre(QQuickItem *item)
    {
        return item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    }

    QColor pixel(QQuickItem *item, QPointF local)
    {
        const QImage image = m_window->grabWindow();
        const QPointF p = item->mapToScene(local) * image.devicePixelRatio();
        return image.pixelColor(p.toPoint());
    }

private Q_SLOTS:
    void initTestCase()
    {
        Look::registerQmlModule();
        m_engine = new QQmlEngine(this);
    }

    void cleanup() { m_window.reset(); }

    void stylesFollowEveryState_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QColor>("normalFill");
        QTest::addColumn<QColor>("activeFill");
        QTest::addColumn<QColor>("text");
        QTest::addColumn<QColor>("loadingText");
        QTest::addColumn<bool>("outlined");
        QTest::newRow("primary") << "PrimaryButtonStyle" << kWhite << QColor(0xb3, 0xb3, 0xb3)
                                 << kBlack << kWhite << false;
        QTest::newRow("secondary") << "SecondaryButtonStyle" << kGrey02 << QColor(0x66, 0x66, 0x66)
                                   << kWhite << kGrey02 << false;
        QTest::newRow("tertiary") << "TertiaryButtonStyle" << kTransparent << QColor(0x3d, 0x3d, 0x3d)
                                  << kWhite << kTransparent << true;
    }

    void stylesFollowEveryState()
    {
        QFETCH(QString, style);
        QFETCH(QColor, normalFill);
        QFETCH(QColor, activeFill);
        QFETCH(QColor, text);
        QFETCH(QColor, loadingText);
        QFETCH(bool, outlined);

        QVERIFY(show(QStringLiteral(R"(
            Window {
                width: 300; height: 120
                color: "black"
                property int clicks
                %1 {
                    objectName: "button"
                    x: 40; y: 30
                    text: "Request new OTP"
                    onClicked: clicks++
                }
            }
        )").arg(style).toUtf8()));
        QQuickItem *button = item("button");
        QQuickItem *fill = item("fill", button);
        QQuickItem *label = item("labelText", button);
        QQuickItem *spinner = item("spinner", button);
        QQuickItem *outline = item("outline", button);
        QVERIFY(fill && label && spinner && outline);
        const auto clicks = [&] { return m_window->property("clicks").toInt(); };
        // A point of the fill clear of the label and the outline.
        const QPointF onFill(6, button->height() / 2);
        const QColor background = kBlack;
        const auto drawn = [&](const QColor &c) { return c.alpha() == 0 ? background : c; };

        // Normal: the padded label, 13 px medium, nothing else.
        QCOMPARE(button->property("topPadding").toReal(), 13.0);
        QCOMPARE(button->property("leftPadding").toReal(), 16.0);
        QCOMPARE(button->property("bottomPadding").toReal(), 13.0);
        QCOMPARE(button->property("rightPadding").toReal(), 16.0);
        const QFont font = label->property("font").value<QFont>();
        QCOMPARE(font.pixelSize(), 13);
        QCOMPARE(font.weight(), QFont::Medium);
        const QSizeF size(button->width(), button->height());
        QCOMPARE(size.width(), qCeil(label->implicitWidth()) + 32.0);
        QVERIFY(qAbs(size.height() - (label->implicitHeight() + 26.0)) < 1.0);
        QCOMPARE(fill->width(), size.width());
        QCOMPARE(fill->height(), size.height());
        QCOMPARE(fill->property("radius").toReal(), 13.0);
        QVERIFY(sameColor(colorOf(fill, "color"), normalFill));
        QVERIFY(near(pixel(button, onFill), drawn(normalFill)));
        QCOMPARE(colorOf(label, "color"), text);
        QVERIFY(!spinner->isVisible());
        QCOMPARE(accessibleName(button), QStringLiteral("Request new OTP"));
        QCOMPARE(outline->isVisible(), outlined);
        if (outlined) {
            QCOMPARE(outline->property("border").value<QObject *>()->property("width").toReal(), 1.0);
            const QColor line = outline->property("border").value<QObject *>()->property("color").value<QColor>();
            QCOMPARE(line.rgb(), kWhite.rgb());
            QCOMPARE(qRound(line.alphaF() * 100), 40);
            // Drawn: lighter than the black around it, darker than white.
            const QColor edge = pixel(button, QPointF(button->width() / 2, 0.2));
            QVERIFY2(edge.red() > 60 && edge.red() < 160, qPrintable(edge.name()));
        }

        // Hovered: the second fill.
        QTest::mouseMove(m_window.get(), scenePoint(button, QPointF(size.width() / 2, size.height() / 2)));
        QTRY_VERIFY(button->property("hovered").toBool());
        QVERIFY(sameColor(colorOf(fill, "color"), activeFill));
        QVERIFY(near(pixel(button, onFill), activeFill));
        QCOMPARE(colorOf(label, "color"), text);

        // Pressed while hovered: the same fill, not a darker one; a little smaller.
        QTest::mousePress(m_window.get(), Qt::LeftButton, Qt::NoModifier,
                          scenePoint(button, QPointF(size.width() / 2, size.height() / 2)));
        QVERIFY(button->property("down").toBool());
        QVERIFY(sameColor(colorOf(fill, "color"), activeFill));
        QVERIFY(near(pixel(button, onFill), activeFill));
        QCOMPARE(fill->scale(), 0.98);
        QCOMPARE(button->width(), size.width());
        QTest::mouseRelease(m_window.get(), Qt::LeftButton, Qt::NoModifier,
                            scenePoint(button, QPointF(size.width() / 2, size.height() / 2)));
        QCOMPARE(clicks(), 1);
        QCOMPARE(fill->scale(), 1.0);

        // Away: normal again.
        QTest::mouseMove(m_window.get(), QPoint(5, 5));
        QTRY_VERIFY(!button->property("hovered").toBool());
        QVERIFY(sameColor(colorOf(fill, "color"), normalFill));

        // Drawn disabled: the second fill and a grey label, yet it still clicks.
        button->setProperty("disabled", true);
        QVERIFY(sameColor(colorOf(fill, "color"), activeFill));
        QCOMPARE(colorOf(label, "color"), kGray);
        QCOMPARE(button->width(), size.width());
        // Disabled, hovered and pressed at once: still that one fill.
        QTest::mouseMove(m_window.get(), scenePoint(button, QPointF(10, 10)));
        QTRY_VERIFY(button->property("hovered").toBool());
        QTest::mousePress(m_window.get(), Qt::LeftButton, Qt::NoModifier, scenePoint(button, QPointF(10, 10)));
        QVERIFY(sameColor(colorOf(fill, "color"), activeFill));
        QVERIFY(near(pixel(button, onFill), activeFill));
        QTest::mouseRelease(m_window.get(), Qt::LeftButton, Qt::NoModifier, scenePoint(button, QPointF(10, 10)));
        QCOMPARE(clicks(), 2);
        QTest::mouseMove(m_window.get(), QPoint(5, 5));
        QTRY_VERIFY(!button->property("hovered").toBool());
        button->setProperty("disabled", false);

        // Loading: same size, the label laid out but in the loading colour, the
        // spinner centred over it.
        const QRectF labelRect(label->mapToScene(QPointF()), label->size());
        button->setProperty("loading", true);
        QVERIFY(spinner->isVisible());
        QVERIFY(spinner->width() > 8 && spinner->width() <= 20);
        QVERIFY(spinner->height() < size.height() - 20);
        QCOMPARE(button->width(), size.width());
        QCOMPARE(button->height(), size.height());
        QCOMPARE(QRectF(label->mapToScene(QPointF()), label->size()), labelRect);
        QVERIFY(label->isVisible());
        QVERIFY(sameColor(colorOf(label, "color"), loadingText));
        QVERIFY(sameColor(colorOf(fill, "color"), normalFill));
        const QPointF offset = sceneCentre(spinner) - sceneCentre(button);
        QVERIFY2(qAbs(offset.x()) < 0.51 && qAbs(offset.y()) < 0.51,
                 qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));

        // Loading and disabled: the loading colour wins, the fill is the second one.
        button->setProperty("disabled", true);
        QVERIFY(sameColor(colorOf(label, "color"), loadingText));
        QVERIFY(sameColor(colorOf(fill, "color"), activeFill));
        QVERIFY(spinner->isVisible());
        QCOMPARE(button->width(), size.width());

        // Done: the spinner is gone.
        button->setProperty("loading", false);
        button->setProperty("disabled", false);
        QVERIFY(!spinner->isVisible());
        QCOMPARE(colorOf(label, "color"), text);
    }

    // Dark on the white button, light on the dark ones, in either appearance.
    void spinnerToneFollowsTheAppearance()
    {
        QVERIFY(show(R"(
            Window {
                width: 400; height: 80
                property bool dark
                Row {
                    PrimaryButtonStyle { objectName: "primary"; text: "Next"; loading: true
                                         palette.window: dark ? "#202020" : "#f0f0f0" }
                    SecondaryButtonStyle { objectName: "secondary"; text: "Back"; loading: true
                                           palette.window: dark ? "#202020" : "#f0f0f0" }
                    TertiaryButtonStyle { objectName: "tertiary"; text: "Sign Out"; loading: true
                                          palette.window: dark ? "#202020" : "#f0f0f0" }
                }
            }
        )"));
        for (const bool dark : {false, true}) {
            m_window->setProperty("dark", dark);
            for (const char *name : {"primary", "secondary", "tertiary"}) {
                QQuickItem *button = item(QString::fromLatin1(name));
                QCOMPARE(button->property("darkAppearance").toBool(), dark);
                QQuickItem *spinner = item("spinner", button);
                QObject *wheel = spinner->property("contentItem").value<QObject *>();
                const QColor expected = qstrcmp(name, "primary") == 0 ? kBlack : kWhite;
                QCOMPARE(colorOf(wheel, "color"), expected);
            }
        }
    }

    // Transparent when idle, yet every point of its rectangle takes the click:
    // corners outside the rounding, the padding, between the letters.
    void wholeRectangleTakesTheClick()
    {
        QVERIFY(show(R"(
            Window {
                width: 300; height: 120
                color: "black"
                property int clicks
                TertiaryButtonStyle {
                    objectName: "button"
                    x: 40; y: 30
                    text: "Sign  Out"
                    onClicked: clicks++
                }
            }
        )"));
        QQuickItem *button = item("button");
        QQuickItem *label = item("labelText", button);
        const qreal w = button->width();
        const qreal h = button->height();
        const QList<QPointF> inside{{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}, {8, h / 2},
                                    {w / 2, 3}, {label->x() + label->width() / 2 + 16, h / 2}};
        int expected = 0;
        for (const QPointF &p : inside) {
            QTest::mouseClick(m_window.get(), Qt::LeftButton, Qt::NoModifier, scenePoint(button, p));
            ++expected;
            QVERIFY2(m_window->property("clicks").toInt() == expected,
                     qPrintable(QStringLiteral("at %1,%2").arg(p.x()).arg(p.y())));
        }
        QTest::mouseClick(m_window.get(), Qt::LeftButton, Qt::NoModifier, scenePoint(button, {w + 2, h / 2}));
        QTest::mouseClick(m_window.get(), Qt::LeftButton, Qt::NoModifier, scenePoint(button, {w / 2, -2}));
        QCOMPARE(m_window->property("clicks").toInt(), expected);
    }

    void googleButtonShowsLogoAndText()
    {
        QVERIFY(show(R"(
            Window {
                width: 320; height: 100
                color: "black"
                property int taps
                GoogleButton {
                    objectName: "google"
                    x: 20; y: 20
                    onTap: taps++
                }
            }
        )"));
        QQuickItem *button = item("google");
        QQuickItem *logo = item("logo", button);
        QQuickItem *text = item("labelText", button);
        QQuickItem *spinner = item("spinner", button);
        QVERIFY(logo && text && spinner);

        // Logo, 12 px, the text in 14 px semibold black on white.
        QTRY_COMPARE(logo->property("status").toInt(), 1); // Image.Ready
        QCOMPARE(logo->width(), 20.0);
        QCOMPARE(logo->height(), 20.0);
        QCOMPARE(text->property("text").toString(), QStringLiteral("Continue with Google"));
        QCOMPARE(accessibleName(button), QStringLiteral("Continue with Google"));
        const QFont font = text->property("font").value<QFont>();
        QCOMPARE(font.pixelSize(), 14);
        QCOMPARE(font.weight(), QFont::DemiBold);
        QCOMPARE(colorOf(text, "color"), kBlack);
        QCOMPARE(text->mapToScene(QPointF()).x() - logo->mapToScene(QPointF(20, 0)).x(), 12.0);
        QCOMPARE(sceneCentre(logo).y(), sceneCentre(button).y());
        QCOMPARE(colorOf(item("fill", button), "color"), kWhite);
        const qreal width = button->width();
        QCOMPARE(width, qCeil(20 + 12 + text->implicitWidth()) + 32.0);

        // The logo is drawn: the mark's four colours inside its square.
        const QImage shot = m_window->grabWindow();
        const QRectF logoRect(logo->mapToScene(QPointF()), logo->size());
        int red = 0, yellow = 0, green = 0, blue = 0;
        for (int y = int(logoRect.top()); y < int(logoRect.bottom()); ++y) {
            for (int x = int(logoRect.left()); x < int(logoRect.right()); ++x) {
                const QColor c = shot.pixelColor(QPoint(x, y) * shot.devicePixelRatio());
                red += near(c, QColor(0xea, 0x43, 0x35), 24);
                yellow += near(c, QColor(0xfb, 0xbc, 0x05), 24);
                green += near(c, QColor(0x34, 0xa8, 0x53), 24);
                blue += near(c, QColor(0x42, 0x85, 0xf4), 24);
            }
        }
        QVERIFY2(red > 15 && yellow > 10 && green > 15 && blue > 15,
                 qPrintable(QStringLiteral("%1 %2 %3 %4").arg(red).arg(yellow).arg(green).arg(blue)));

        QTest::mouseClick(m_window.get(), Qt::LeftButton, Qt::NoModifier, scenePoint(button, {4, 4}));
        QCOMPARE(m_window->property("taps").toInt(), 1);

        // Loading: no logo, the text in white on white, the spinner in the middle,
        // narrower by the logo and its gap; still clickable.
        button->setProperty("loading", true);
        QVERIFY(!logo->isVisible());
        QCOMPARE(colorOf(text, "color"), kWhite);
        QTRY_COMPARE(button->width(), width - 32);
        QVERIFY(spinner->isVisible());
        const QPointF offset = sceneCentre(spinner) - sceneCentre(button);
        QVERIFY(qAbs(offset.x()) < 0.51 && qAbs(offset.y()) < 0.51);
        QTest::mouseClick(m_window.get(), Qt::LeftButton, Qt::NoModifier, scenePoint(button, {4, 4}));
        QCOMPARE(m_window->property("taps").toInt(), 2);

        button->setProperty("loading", false);
        QVERIFY(logo->isVisible());
        QTRY_COMPARE(button->width(), width);
    }

    void dividerSharesTheWidthAroundItsCaption_data()
    {
        QTest::addColumn<qreal>("width");
        QTest::newRow("wide") << 500.0;
        QTest::newRow("narrower than the caption") << 150.0;
    }

    void dividerSharesTheWidthAroundItsCaption()
    {
        QFETCH(qreal, width);
        QVERIFY(show(QStringLiteral(R"(
            Window {
                width: 600; height: 100
                ColumnLayout {
                    width: %1
                    spacing: 0
                    LoginMethodDividerView { objectName: "divider"; Layout.fillWidth: true }
                }
            }
        )").arg(width).toUtf8()));
        QQuickItem *divider = item("divider");
        QQuickItem *leading = item("leadingLine", divider);
        QQuickItem *caption = item("caption", divider);
        QQuickItem *trailing = item("trailingLine", divider);
        QVERIFY(leading && caption && trailing);

        QTRY_COMPARE(divider->height(), 20.0);
        QCOMPARE(caption->property("text").toString(), QStringLiteral("or continue with a one time password"));
        QCOMPARE(colorOf(caption, "color"), kGray);
        QVERIFY(caption->width() >= 215);
        QVERIFY(qAbs(sceneCentre(caption).y() - 10.0) <= 0.5);
        for (QQuickItem *line : {leading, trailing}) {
            QCOMPARE(line->height(), 1.0);
            // Laid out on whole pixels.
            QVERIFY(qAbs(sceneCentre(line).y() - 10.0) <= 0.5);
            QCOMPARE(colorOf(line, "color"), Look::dividerBackground());
        }
        QVERIFY(qAbs(leading->width() - trailing->width()) <= 1);
        // Leading line, caption, trailing line, left to right.
        QVERIFY(leading->mapToScene(QPointF(leading->width(), 0)).x() < caption->mapToScene(QPointF()).x());
        QVERIFY(caption->mapToScene(QPointF(caption->width(), 0)).x() < trailing->mapToScene(QPointF()).x());

        if (width > 300) {
            // The lines take what the caption leaves.
            QVERIFY(leading->width() > 50);
            QCOMPARE(trailing->mapToScene(QPointF(trailing->width(), 0)).x(), width);
            QVERIFY(qAbs(sceneCentre(caption).x() - width / 2) <= 1);
        } else {
            // The caption does not give way; the lines do, to nothing.
            QVERIFY(caption->width() >= 215);
            QCOMPARE(leading->width(), 0.0);
            QCOMPARE(trailing->width(), 0.0);
        }
    }

    // Every style in every state, for a person to look at: /tmp/buttons.png.
    void picturesEveryState()
    {
        QVERIFY(show(R"(
            Window {
                width: 900; height: 340
                color: Colors.primaryBackground
                GridLayout {
                    x: 24; y: 24
                    columns: 5
                    columnSpacing: 16
                    rowSpacing: 16
                    Repeater {
                        model: ["Normal", "Hovered", "Pressed", "Disabled", "Loading"]
                        Text { required property string modelData; text: modelData; color: "#8e8e93"; font.pixelSize: 12 }
                    }
                    Repeater {
                        model: 15
                        Loader {
                            required property int index
                            readonly property int column: index % 5
                            objectName: "cell" + index
                            sourceComponent: [primary, secondary, tertiary][Math.floor(index / 5)]
                            onLoaded: {
                                item.disabled = column === 3
                                item.loading = column === 4
                            }
                        }
                    }
                    GoogleButton { Layout.columnSpan: 2 }
                    GoogleButton { Layout.columnSpan: 2; loading: true }
                    Item { implicitWidth: 1 }
                    LoginMethodDividerView { Layout.columnSpan: 5; Layout.fillWidth: true }
                }
                Component { id: primary; PrimaryButtonStyle { text: "Continue" } }
                Component { id: secondary; SecondaryButtonStyle { text: "Request new OTP" } }
                Component { id: tertiary; TertiaryButtonStyle { text: "Sign Out" } }
            }
        )"));
        QTRY_VERIFY(item("cell14") && item("cell14")->width() > 0);
        QTest::qWait(50);
        QImage picture = m_window->grabWindow();
        QVERIFY(!picture.isNull());
        const qreal ratio = picture.devicePixelRatio();

        // Hover and press one button at a time and copy it into the picture.
        QPainter painter(&picture);
        for (int row = 0; row < 3; ++row) {
            for (const int column : {1, 2}) {
                QQuickItem *cell = item(QStringLiteral("cell%1").arg(row * 5 + column));
                QQuickItem *button = cell->property("item").value<QQuickItem *>();
                const QPoint centre = sceneCentre(button).toPoint();
                QTest::mouseMove(m_window.get(), centre);
                QTRY_VERIFY(button->property("hovered").toBool());
                if (column == 2) {
                    QTest::mousePress(m_window.get(), Qt::LeftButton, Qt::NoModifier, centre);
                    QVERIFY(button->property("down").toBool());
                }
                const QImage shot = m_window->grabWindow();
                const QRect rect(QRectF(button->mapToScene(QPointF()) * ratio, button->size() * ratio).toAlignedRect());
                painter.drawImage(rect.topLeft(), shot.copy(rect));
                if (column == 2)
                    QTest::mouseRelease(m_window.get(), Qt::LeftButton, Qt::NoModifier, centre);
                QTest::mouseMove(m_window.get(), QPoint(2, 2));
                QTRY_VERIFY(!button->property("hovered").toBool());

                // The hovered fill shows where the normal one did.
                QQuickItem *normal = item(QStringLiteral("cell%1").arg(row * 5))->property("item").value<QQuickItem *>();
                const QPoint fillPoint(6, int(button->height() / 2));
                QVERIFY(picture.pixelColor((button->mapToScene(fillPoint) * ratio).toPoint())
                        != picture.pixelColor((normal->mapToScene(fillPoint) * ratio).toPoint()));
            }
        }
        painter.end();
        QVERIFY(picture.save(QStringLiteral("/tmp/buttons.png")));
    }
};

QTEST_MAIN(TestButtons)
#include "tst_buttons.moc"
