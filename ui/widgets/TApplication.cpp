#include "ui/widgets/TApplication.h"

#include "core/Prompt.h"

#include <QFont>
#include <exception>
#include <new>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(Title());
    setProperty("helpFile", HelpFileName());
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    QString message;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::bad_alloc&) {
        message = QStringLiteral("Out of memory.");
    } catch (const std::exception& e) {
        message = QString::fromLocal8Bit(e.what());
    } catch (...) {
        message = QStringLiteral("Unknown exception.");
    }
    if (prompt_)
        prompt_->ShowException(message);
    return false;
}

void TApplication::InstallFontSubstitutes()
{
    // Proportional and fixed-pitch Gothic, as the forms are designed with.
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("IPAexGothic")});
    QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"),
                               {QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic")});
    QFont::insertSubstitutions(QStringLiteral("MS PGothic"), {QStringLiteral("IPAPGothic")});
    QFont::insertSubstitutions(QStringLiteral("MS Gothic"), {QStringLiteral("IPAGothic")});
}
