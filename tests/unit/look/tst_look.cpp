// The shared look: the focusable text field, the hiding helper, the toggle
// style and the colours, each in a real window.
#include <look.h>

#include <QAccessible>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <memory>

class TestLook : public QObject
{
    Q_OBJECT

private:
    QQmlEngine *m_engine = nullptr;
    std::unique_ptr<QQuickWindow> m_window;

    // Shows the window in `qml` (a Window with the imports below) and makes it active.
    bool show(const QByteArray &qml)
    {
        QQmlComponent component(m_engine);
        component.setData("import QtQuick\nimport QtQuick.Layouts\nimport Look\n" + qml,
                          QUrl(QStringLiteral("qrc:/looktest.qml")));
        m_window.reset(qobject_cast<QQuickWindow *>(component.create()));
        if (!m_window) {
            qWarning() << component.errorString();
            return false;
        }
        m_window->show();
        m_window->requestActivate();
        return QTest::qWaitForWindowActive(m_window.get());
    }

    // QTest has no keyClicks for a QWindow.
    void type(const char *text)
    {
        for (const char *c = text; *c; ++c)
            QTest::keyClick(m_window.get(), *c);
    }

    static QString accessibleName(QQuickItem *item)
    {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(item);
        return accessible ? accessible->text(QAccessible::Name) : QString();
    }

    QQuickItem *item(const char *name) const
    {
        return m_window->findChild<QQuickItem *>(QString::fromLatin1(name));
    }

    // A view with a field bound two-way to `term`, a Keys handler that
    // records what reaches it, and a second field shown on demand.
    static QByteArray fieldWindow()
    {
        return R"(
            Window {
                width: 320; height: 120
                color: Colors.primaryBackground
                property string term
                property var keysSeen: []
                property alias secondShown: second.active
                Item {
                    objectName: "view"
                    anchors.fill: parent
                    Keys.onPressed: (event) => { keysSeen.push(event.key); event.accepted = true }
                    Row {
                        FocusableTextField {
                            objectName: "first"
                            width: 100
                            text: term
                            onTextChanged: term = text
                            placeholder: "Select a prompt..."
                            fontSize: 17
                        }
                        Loader {
                            id: second
                            active: false
                            sourceComponent: FocusableTextField {
                                objectName: "second"
                                width: 100
                                placeholder: "Your text"
                                fontSize: 12
                            }
                        }
                    }
                }
            }
        )";
    }

private Q_SLOTS:
    void initTestCase()
    {
        Look::registerQmlModule();
        m_engine = new QQmlEngine(this);
    }

    void cleanup() { m_window.reset(); }

    void fieldTakesFocusAndFollowsTheCaller()
    {
        QVERIFY(show(fieldWindow()));
        QQuickItem *field = item("first");
        QVERIFY(field);
        QQuickItem *placeholder = item("placeholder");
        QVERIFY(placeholder);

        // Grey placeholder at the field's own size while empty.
        QVERIFY(placeholder->isVisible());
        QCOMPARE(placeholder->property("text").toString(), QStringLiteral("Select a prompt..."));
        const QColor grey = placeholder->property("color").value<QColor>();
        QVERIFY2(grey.hslSaturation() < 25 && grey.lightness() > 100 && grey.lightness() < 180,
                 qPrintable(grey.name()));
        QCOMPARE(placeholder->property("font").value<QFont>().pixelSize(), 17);
        QCOMPARE(field->property("font").value<QFont>().pixelSize(), 17);
        QCOMPARE(field->property("color").value<QColor>(), QColor(Qt::white));
        QCOMPARE(accessibleName(field), QStringLiteral("Select a prompt..."));

        // Typed without a click; each key reaches the caller at once.
        QTRY_VERIFY(field->hasActiveFocus());
        QTest::keyClick(m_window.get(), Qt::Key_H);
        QCOMPARE(m_window->property("term").toString(), QStringLiteral("h"));
        QVERIFY(!placeholder->isVisible());
        type("ello");
        QCOMPARE(m_window->property("term").toString(), QStringLiteral("hello"));

        // The caller clears and sets the text: the field follows and keeps working.
        m_window->setProperty("term", QString());
        QCOMPARE(field->property("text").toString(), QString());
        QVERIFY(placeholder->isVisible());
        m_window->setProperty("term", QStringLiteral("Fix"));
        QCOMPARE(field->property("text").toString(), QStringLiteral("Fix"));
        type("ed");
        QCOMPARE(m_window->property("term").toString(), QStringLiteral("Fixed"));
    }

    void secondFieldTakesTheFocusOnce()
    {
        QVERIFY(show(fieldWindow()));
        QQuickItem *first = item("first");
        QTRY_VERIFY(first->hasActiveFocus());

        m_window->setProperty("secondShown", true);
        QQuickItem *second = item("second");
        QVERIFY(second);
        QTRY_VERIFY(second->hasActiveFocus());
        QVERIFY(!first->hasActiveFocus());
        type("abc");
        QCOMPARE(second->property("text").toString(), QStringLiteral("abc"));
        QCOMPARE(m_window->property("term").toString(), QString());

        // A click gives the first field the focus back; the second does not take it again.
        QTRY_COMPARE(second->mapToScene(QPointF()).x(), first->width());
        QTest::mouseClick(m_window.get(), Qt::LeftButton, Qt::NoModifier,
                          first->mapToScene(QPointF(10, first->height() / 2)).toPoint());
        QTRY_VERIFY(first->hasActiveFocus());
        QTest::qWait(50);
        QVERIFY(first->hasActiveFocus());
    }

    // As the window router does it: the content is made first, then put in a window.
    void fieldMadeOutsideAWindowTakesTheFocusWhenPlaced()
    {
        QVERIFY(show("Window { width: 200; height: 60 }"));
        QQmlComponent component(m_engine);
        component.setData("import Look\nFocusableTextField { width: 100 }", QUrl());
        std::unique_ptr<QQuickItem> field(qobject_cast<QQuickItem *>(component.create()));
        QVERIFY2(field, qPrintable(component.errorString()));
        QTest::qWait(20);
        field->setParentItem(m_window->contentItem());
        QTRY_VERIFY(field->hasActiveFocus());
        type("ok");
        QCOMPARE(field->property("text").toString(), QStringLiteral("ok"));
        field.reset();
    }

    void fieldLeavesNavigationKeysToTheView()
    {
        QVERIFY(show(fieldWindow()));
        QQuickItem *field = item("first");
        QTRY_VERIFY(field->hasActiveFocus());
        type("ab");

        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Up, Qt::Key_Down})
            QTest::keyClick(m_window.get(), key);

        const QVariantList seen = m_window->property("keysSeen").toList();
        QCOMPARE(seen, (QVariantList{int(Qt::Key_Return), int(Qt::Key_Escape), int(Qt::Key_Up), int(Qt::Key_Down)}));
        QCOMPARE(m_window->property("term").toString(), QStringLiteral("ab"));
        QVERIFY(field->hasActiveFocus());
    }

    void longTextIsCutAtTheEndWhenNotEdited()
    {
        QVERIFY(show(fieldWindow()));
        QQuickItem *field = item("first");
        QQuickItem *elided = item("elidedText");
        QVERIFY(elided);
        QTRY_VERIFY(field->hasActiveFocus());
        m_window->setProperty("term", QStringLiteral("a rather long text that cannot fit in a hundred pixels"));

        // While edited the field itself shows the text, scrolled to the cursor.
        QVERIFY(!elided->isVisible());
        QCOMPARE(field->property("color").value<QColor>(), QColor(Qt::white));

        item("view")->forceActiveFocus();
        QVERIFY(!field->hasActiveFocus());
        QVERIFY(elided->isVisible());
        QVERIFY(elided->property("truncated").toBool());
        QVERIFY(elided->width() <= field->width());
        QCOMPARE(field->property("color").value<QColor>().alpha(), 0);

        // A short text shows as it is.
        m_window->setProperty("term", QStringLiteral("short"));
        QVERIFY(!elided->isVisible());
        QCOMPARE(field->property("color").value<QColor>(), QColor(Qt::white));
    }

    void hidingShowsBlanksOrRemoves_data()
    {
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<bool>("remove");
        QTest::addColumn<qreal>("nextX");
        QTest::addColumn<bool>("clickable");
        QTest::newRow("shown") << false << false << 90.0 << true;
        QTest::newRow("shown, remove ignored") << false << true << 90.0 << true;
        QTest::newRow("hidden keeps its space") << true << false << 90.0 << false;
        QTest::newRow("removed") << true << true << 40.0 << false;
    }

    void hidingShowsBlanksOrRemoves()
    {
        QFETCH(bool, hidden);
        QFETCH(bool, remove);
        QFETCH(qreal, nextX);
        QFETCH(bool, clickable);

        QVERIFY(show(R"(
            Window {
                width: 200; height: 60
                property bool hideMiddle
                property bool removeMiddle
                property int clicks
                RowLayout {
                    spacing: 0
                    Rectangle { implicitWidth: 40; implicitHeight: 30 }
                    Rectangle {
                        objectName: "middle"
                        implicitWidth: 50; implicitHeight: 30
                        opacity: 0.8
                        Hiding.hidden: hideMiddle
                        Hiding.remove: removeMiddle
                        MouseArea { anchors.fill: parent; onClicked: clicks++ }
                    }
                    Rectangle { objectName: "next"; implicitWidth: 30; implicitHeight: 30 }
                }
            }
        )"));
        QQuickItem *middle = item("middle");
        QQuickItem *next = item("next");
        QCOMPARE(next->x(), 90.0);

        m_window->setProperty("hideMiddle", hidden);
        m_window->setProperty("removeMiddle", remove);
        QTRY_COMPARE(next->x(), nextX);
        QTest::mouseClick(m_window.get(), Qt::LeftButton, Qt::NoModifier, QPoint(65, 15));
        QCOMPARE(m_window->property("clicks").toInt(), clickable ? 1 : 0);
        if (hidden && !remove) {
            QVERIFY(middle->isVisible());
            QCOMPARE(middle->opacity(), 0.0);
        }

        // Shown again, it is the item it was, in its place.
        m_window->setProperty("hideMiddle", false);
        QTRY_COMPARE(next->x(), 90.0);
        QVERIFY(middle->isVisible());
        QVERIFY(middle->isEnabled());
        QCOMPARE(middle->opacity(), 0.8);
    }

    void hidingKeepsTheItemsOwnStateForLater()
    {
        QVERIFY(show(R"(
            Window {
                width: 200; height: 60
                property bool hideButton: true
                property bool removeButton
                property bool buttonEnabled: false
                property real buttonOpacity: 1
                Item {
                    objectName: "button"
                    width: 50; height: 30
                    enabled: buttonEnabled
                    opacity: buttonOpacity
                    Hiding.hidden: hideButton
                    Hiding.remove: removeButton
                }
            }
        )"));
        QQuickItem *button = item("button");
        QVERIFY(!button->isEnabled());

        // Its own bindings change while it is hidden: it stays hidden and inert.
        m_window->setProperty("buttonEnabled", true);
        m_window->setProperty("buttonOpacity", 0.5);
        QVERIFY(!button->isEnabled());
        QCOMPARE(button->opacity(), 0.0);

        // Hidden another way, then shown: what it asked for while hidden.
        m_window->setProperty("removeButton", true);
        QVERIFY(!button->isVisible());
        QVERIFY(button->isEnabled());
        QCOMPARE(button->opacity(), 0.5);
        m_window->setProperty("hideButton", false);
        QVERIFY(button->isVisible());
        QVERIFY(button->isEnabled());
        QCOMPARE(button->opacity(), 0.5);
    }

    void toggleFlipsOnceAndMovesItsThumb()
    {
        QVERIFY(show(R"(
            Window {
                width: 100; height: 40
                property int toggles
                ColoredToggleStyle {
                    objectName: "toggle"
                    x: 10; y: 10
                    text: "Launch at login"
                    onColor: "blue"; offColor: "gray"; thumbColor: "white"
                    onToggled: toggles++
                }
            }
        )"));
        QQuickItem *toggle = item("toggle");
        QQuickItem *track = item("track");
        QQuickItem *thumb = item("thumb");
        QVERIFY(toggle && track && thumb);

        // The switch alone: no room for the label, which only names it.
        QCOMPARE(toggle->width(), 28.0);
        QCOMPARE(toggle->height(), 16.0);
        QCOMPARE(accessibleName(toggle), QStringLiteral("Launch at login"));
        QCOMPARE(track->property("color").value<QColor>(), QColor("gray"));
        QCOMPARE(thumb->x(), 1.0);
        QCOMPARE(thumb->width(), 14.0);

        // On the thumb, then on the far end of the track: one flip each.
        QTest::mouseClick(m_window.get(), Qt::LeftButton, Qt::NoModifier, QPoint(18, 18));
        QCOMPARE(m_window->property("toggles").toInt(), 1);
        QVERIFY(toggle->property("checked").toBool());
        QTRY_COMPARE(track->property("color").value<QColor>(), QColor("blue"));
        QTRY_COMPARE(thumb->x(), 13.0);

        QTest::mouseClick(m_window.get(), Qt::LeftButton, Qt::NoModifier, QPoint(14, 18));
        QCOMPARE(m_window->property("toggles").toInt(), 2);
        QVERIFY(!toggle->property("checked").toBool());
        QTRY_COMPARE(track->property("color").value<QColor>(), QColor("gray"));
        QTRY_COMPARE(thumb->x(), 1.0);
    }

    void colorsAreDarkWithALighterDivider()
    {
        QVERIFY(show("Window { property color background: Colors.primaryBackground\n"
                     "         property color divider: Colors.dividerBackground }"));
        const QColor background = m_window->property("background").value<QColor>();
        const QColor divider = m_window->property("divider").value<QColor>();
        QCOMPARE(background, Look::primaryBackground());
        QCOMPARE(divider, Look::dividerBackground());
        // White text reads on both.
        QVERIFY(background.lightness() < 60);
        QVERIFY(divider.lightness() > background.lightness());
        QVERIFY(divider.lightness() < 90);
    }

    void mascotLoadsAtItsSizes()
    {
        QVERIFY(show(R"(
            Window {
                Image { objectName: "small"; source: "qrc:/images/mascot.svg"; sourceSize: Qt.size(30, 30) }
                Image { objectName: "large"; source: "qrc:/images/mascot.svg"; sourceSize: Qt.size(80, 80) }
            }
        )"));
        for (const char *name : {"small", "large"}) {
            QQuickItem *image = item(name);
            QTRY_COMPARE(image->property("status").toInt(), 1); // Image.Ready
            QCOMPARE(image->width(), image->height());
        }
        QCOMPARE(item("small")->width(), 30.0);
    }
};

QTEST_MAIN(TestLook)
#include "tst_look.moc"
