#include "terminal_view.h"

#include <QRegularExpression>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int BarWidth = 20;

QString Normalized(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void Write(std::FILE* file, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file);
}

} // namespace

QString EscapeControls(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20 || code == 0x7F)
            escaped += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        else if (code >= 0x80 && code <= 0x9F)
            escaped += QStringLiteral("\\u%1").arg(code, 4, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped;
}

TTerminal::TTerminal(std::FILE* out, std::FILE* err, bool live) : Out(out), Err(err), IsLive(live)
{
}

TTerminal& TTerminal::Standard()
{
    static TTerminal terminal(stdout, stderr, ::isatty(STDOUT_FILENO) == 1);
    return terminal;
}

int TTerminal::Width() const
{
    winsize size{};
    if (::ioctl(fileno(Out), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
        return size.ws_col;
    return 80;
}

void TTerminal::ShowLive(const QString& line)
{
    if (!IsLive)
        return;
    // One column short of the width, so the cursor never wraps to a new line.
    const QString fitted = EscapeControls(line).left(Width() - 1);
    if (LiveShown && fitted == LiveLine)
        return;
    LiveLine = fitted;
    Redraw();
}

void TTerminal::ClearLive()
{
    Hide();
    LiveLine.clear();
}

void TTerminal::PrintLine(const QString& line)
{
    Hide();
    Write(Out, EscapeControls(line) + QLatin1Char('\n'));
    std::fflush(Out);
    Redraw();
}

void TTerminal::PrintMessage(const QString& text)
{
    Hide();
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = EscapeControls(line);
    Write(Err, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    std::fflush(Err);
    Redraw();
}

void TTerminal::Hide()
{
    if (!IsLive || !LiveShown)
        return;
    Write(Out, QStringLiteral("\r\x1b[K"));
    std::fflush(Out);
    LiveShown = false;
}

void TTerminal::Redraw()
{
    if (!IsLive || LiveLine.isEmpty())
        return;
    Write(Out, QStringLiteral("\r\x1b[K") + LiveLine);
    std::fflush(Out);
    LiveShown = true;
}

TTerminalPrompter::TTerminalPrompter(TTerminal& terminal, bool overwrite)
    : Terminal(terminal), Overwrite(overwrite)
{
}

void TTerminalPrompter::Information(const QString& text)
{
    Show(QString(), text);
}

void TTerminalPrompter::Warning(const QString& text)
{
    Show(QStringLiteral("warning: "), text);
}

void TTerminalPrompter::Error(const QString& text)
{
    Show(QStringLiteral("error: "), text);
}

void TTerminalPrompter::Message(const QString& text)
{
    Show(QString(), text);
}

TPrompter::TAnswer TTerminalPrompter::AskYesNo(const QString& text, TAnswer, TIcon)
{
    return Answer(text);
}

TPrompter::TAnswer TTerminalPrompter::AskYesNoCancel(const QString& text, TAnswer, TIcon)
{
    return Answer(text);
}

QStringList TTerminalPrompter::OpenFiles(const QString&, const QString&, const QString&, bool)
{
    return Files;
}

QString TTerminalPrompter::SaveFile(const QString&, const QString&, const QString&)
{
    return {};
}

QString TTerminalPrompter::PickFolder(const QString&, const QString&)
{
    return {};
}

void TTerminalPrompter::Show(const QString& prefix, const QString& text)
{
    ++Messages;
    Terminal.PrintMessage(ProductName().toLower() + QStringLiteral(": ") + prefix + Normalized(text));
}

TPrompter::TAnswer TTerminalPrompter::Answer(const QString& text)
{
    const QString answer =
        Overwrite ? QStringLiteral("yes (--overwrite)") : QStringLiteral("no (--overwrite would replace it)");
    if (!Overwrite)
        ++Declined;
    Terminal.PrintMessage(ProductName().toLower() + QStringLiteral(": ") + Normalized(text) +
                          QStringLiteral(" -- ") + answer);
    return Overwrite ? TAnswer::Yes : TAnswer::No;
}

TTerminalJobView::TTerminalJobView(TTerminal& terminal, const QStringList& names)
    : Terminal(terminal), Names(names)
{
}

void TTerminalJobView::FinishItem(int index, const QString& text)
{
    Terminal.ClearLive();
    Terminal.PrintLine(ItemLabel(index) + QLatin1Char(' ') + text);
    // The next item shows up when the job reports on it.
    if (index == Current) {
        StepName.clear();
        GaugeValue = 0;
        PercentShown = false;
        Elapsed.clear();
        Estimated.clear();
    }
}

QString TTerminalJobView::LiveLine() const
{
    QString line = ItemLabel(Current);
    const QString step = StepName.isEmpty() ? GroupTitle : StepName;
    if (!step.isEmpty())
        line += QStringLiteral("  ") + step;
    if (!Initializing.isEmpty()) {
        line += QStringLiteral("  ") + Initializing;
        return line;
    }
    const int filled = GaugeValue * BarWidth / 100;
    line += QStringLiteral("  [") + QString(filled, QLatin1Char('#')) +
            QString(BarWidth - filled, QLatin1Char('-')) + QLatin1Char(']');
    if (PercentShown)
        line += QStringLiteral(" %1%").arg(GaugeValue, 3);
    if (!Elapsed.isEmpty())
        line += QStringLiteral("  ") + Elapsed;
    if (!Estimated.isEmpty())
        line += QStringLiteral(" of ") + Estimated;
    return line;
}

void TTerminalJobView::SetCaption(const QString& text)
{
    // "Encoding(02/05): title": the step, then the item counted from 1.
    static const QRegularExpression caption(QStringLiteral("^([^(]+)\\((\\d+)/\\d+\\)"));
    const QRegularExpressionMatch match = caption.match(text);
    if (match.hasMatch()) {
        StepName = match.captured(1).trimmed();
        const int item = match.captured(2).toInt() - 1;
        if (item >= 0 && item < Names.size() && item != Current) {
            Current = item;
            GaugeValue = 0;
            PercentShown = false;
            Elapsed.clear();
            Estimated.clear();
        }
    }
    Update();
}

void TTerminalJobView::SetGroupTitle(const QString& text)
{
    GroupTitle = text;
    Update();
}

void TTerminalJobView::SetElapsedText(const QString& text)
{
    Elapsed = text;
    Update();
}

void TTerminalJobView::SetEstimatedText(const QString& text)
{
    Estimated = text;
    Update();
}

void TTerminalJobView::SetGauge(int percent)
{
    GaugeValue = std::clamp(percent, 0, 100);
    Update();
}

void TTerminalJobView::SetGaugeTextVisible(bool visible)
{
    PercentShown = visible;
    Update();
}

void TTerminalJobView::ShowInitializing(const QString& text)
{
    Initializing = text;
    Update();
}

void TTerminalJobView::HideInitializing()
{
    Initializing.clear();
    Update();
}

void TTerminalJobView::CloseView()
{
    if (IsClosed)
        return;
    IsClosed = true;
    Terminal.ClearLive();
    if (OnClose)
        OnClose();
}

QString TTerminalJobView::ItemLabel(int index) const
{
    const int digits = static_cast<int>(QString::number(Names.size()).size());
    const QString name = index >= 0 && index < Names.size() ? Names[index] : QString();
    return QStringLiteral("[%1/%2] %3").arg(index + 1, digits).arg(Names.size()).arg(name);
}

void TTerminalJobView::Update()
{
    if (!IsClosed)
        Terminal.ShowLive(LiveLine());
}
