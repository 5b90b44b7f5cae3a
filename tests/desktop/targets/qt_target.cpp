// A Qt window for the desktop tests: a single-line field, a password field, a read-only field,
// a multi-line field and a rich text field (a bold word). Prints "<field>: <text>" whenever a
// text changes (the password field's too; the rich field's bold runs between asterisks:
// "rich: We will *recieve* the parcel."), "password key: <key>" for each key press the password
// field gets ("e", "BackSpace", "Ctrl+c"), and obeys lines on standard input:
//   focus <line|password|readonly|area|rich>   give that field the keyboard focus (its window's)
//   select <start> <end>                   select in the focused field (Qt offsets: UTF-16)
//   copy <words...>                        own the clipboard: the words as text/plain and a
//                                          4 x 3 PNG image as image/png
//   text <field> <words...>                replace that field's text ("\n" is a line break;
//                                          the rich field's as HTML)
// It says "READY pid=N" once shown and "OK <command>" after each command.

#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMap>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

void say(const QString& text) {
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

// Says each key press its field gets, named as the GTK target names them.
class KeyLog final : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const QString name = key->key() == Qt::Key_Backspace
                                     ? QStringLiteral("BackSpace")
                                     : QKeySequence(key->key()).toString().toLower();
            const bool control = key->modifiers().testFlag(Qt::ControlModifier);
            say(QStringLiteral("password key: ") + (control ? QStringLiteral("Ctrl+") : QString()) +
                name);
        }
        return QObject::eventFilter(watched, event);
    }
};

// The rich field's text with its bold runs between asterisks, its paragraphs on lines of their
// own ("\\n" between them).
QString markedText(const QTextEdit& edit) {
    QString marked;
    for (QTextBlock block = edit.document()->begin(); block.isValid(); block = block.next()) {
        if (block != edit.document()->begin()) {
            marked += QStringLiteral("\\n");
        }
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const auto part = fragment.fragment();
            const bool bold = part.charFormat().fontWeight() >= QFont::Bold;
            marked += bold ? QLatin1Char('*') + part.text() + QLatin1Char('*') : part.text();
        }
    }
    return marked;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("qt-target"));
    window.resize(500, 300);
    window.move(640, 80);
    auto* layout = new QVBoxLayout(&window);
    auto* line = new QLineEdit(QString::fromUtf8("héllo 😀 wörld teh"));
    auto* password = new QLineEdit(QStringLiteral("secret"));
    password->setEchoMode(QLineEdit::Password);
    auto* readonly = new QLineEdit(QStringLiteral("read only"));
    readonly->setReadOnly(true);
    auto* area = new QPlainTextEdit(QString::fromUtf8("line one 😀\nsecond líne teh"));
    auto* rich = new QTextEdit;
    rich->setHtml(QStringLiteral("We will <b>recieve</b> teh parcel."));
    for (QWidget* field : {static_cast<QWidget*>(line), static_cast<QWidget*>(password),
                           static_cast<QWidget*>(readonly), static_cast<QWidget*>(area),
                           static_cast<QWidget*>(rich)}) {
        layout->addWidget(field);
    }
    const QMap<QString, QWidget*> fields{{"line", line},         {"password", password},
                                         {"readonly", readonly}, {"area", area},
                                         {"rich", rich}};
    QObject::connect(rich, &QTextEdit::textChanged,
                     [rich] { say(QStringLiteral("rich: ") + markedText(*rich)); });
    QObject::connect(line, &QLineEdit::textChanged,
                     [](const QString& text) { say(QStringLiteral("line: ") + text); });
    QObject::connect(password, &QLineEdit::textChanged,
                     [](const QString& text) { say(QStringLiteral("password: ") + text); });
    KeyLog keyLog;
    password->installEventFilter(&keyLog);
    QObject::connect(area, &QPlainTextEdit::textChanged, [area] {
        say(QStringLiteral("area: ") +
            area->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\\n")));
    });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string command;
        if (!std::getline(std::cin, command)) {
            QApplication::quit();
            return;
        }
        const QStringList words =
            QString::fromStdString(command).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() == 2 && words[0] == QLatin1String("focus") && fields.contains(words[1])) {
            // Within the window only: whoever sends this brings the window forward first.
            fields[words[1]]->setFocus();
        } else if (!words.isEmpty() && words[0] == QLatin1String("copy")) {
            QImage image(4, 3, QImage::Format_RGB32);
            image.fill(QColor(200, 30, 90));
            image.setPixel(1, 1, qRgb(10, 220, 40));
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG");
            auto* data = new QMimeData;
            data->setData(QStringLiteral("text/plain"),
                          QString::fromStdString(command).mid(5).toUtf8());
            data->setData(QStringLiteral("image/png"), png);
            QApplication::clipboard()->setMimeData(data);
        } else if (words.size() >= 2 && words[0] == QLatin1String("text") &&
                   fields.contains(words[1])) {
            const QString line = QString::fromStdString(command);
            const qsizetype start = line.indexOf(QLatin1Char(' '), 5);
            const QString content = (start < 0 ? QString() : line.mid(start + 1))
                                        .replace(QStringLiteral("\\n"), QStringLiteral("\n"));
            if (auto* edit = qobject_cast<QLineEdit*>(fields[words[1]])) {
                edit->setText(content);
            } else if (fields[words[1]] == rich) {
                rich->setHtml(content);  // (its markup: "<b>bold</b>")
            } else {
                area->setPlainText(content);
            }
        } else if (words.size() == 3 && words[0] == QLatin1String("select")) {
            const int start = words[1].toInt();
            const int end = words[2].toInt();
            if (auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget())) {
                edit->setSelection(start, end - start);
            } else if (QApplication::focusWidget() == area) {
                QTextCursor cursor = area->textCursor();
                cursor.setPosition(start);
                cursor.setPosition(end, QTextCursor::KeepAnchor);
                area->setTextCursor(cursor);
            } else if (QApplication::focusWidget() == rich) {
                QTextCursor cursor = rich->textCursor();
                cursor.setPosition(start);
                cursor.setPosition(end, QTextCursor::KeepAnchor);
                rich->setTextCursor(cursor);
            }
        }
        say(QStringLiteral("OK ") + QString::fromStdString(command));
    });

    window.show();
    say(QStringLiteral("READY pid=%1").arg(::getpid()));
    return QApplication::exec();
}
