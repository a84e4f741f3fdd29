#include "libreofficeserver.h"

#include "automation/compoundfile.h"
#include "deadline.h"
#include "libreofficeworkbook.h"
#include "officeprocess.h"
#include "unoutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextCodec>
#include <QThread>
#include <QUrl>

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDesktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

#include <algorithm>
#include <atomic>
#include <csignal>

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace corvane::automation::libreoffice {

namespace {

// How long LibreOffice may take to accept the connection; a cold start on a slow machine
// takes several seconds.
constexpr int kConnectTimeoutMs = 60000;
constexpr int kConnectRetryMs = 100;
// How long one workbook may take to load.
constexpr int kOpenTimeoutMs = 180000;
// How long a terminated office may take to go away before it is ended.
constexpr int kQuitGraceMs = 10000;

// Answers every question LibreOffice asks while loading (passwords, repairs, links) with
// "abort", so a workbook that needs an answer fails to open at once instead of waiting.
class RefusingInteractionHandler : public cppu::WeakImplHelper1<css::task::XInteractionHandler>
{
public:
    void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override
    {
        if (!request.is())
            return;
        const rtl::OUString type = request->getRequest().getValueTypeName();
        if (type.indexOf("PasswordRequest") >= 0)
            m_passwordAsked = true;
        const auto continuations = request->getContinuations();
        for (const auto& continuation : continuations) {
            const Reference<css::task::XInteractionAbort> abort(continuation, UNO_QUERY);
            if (abort.is()) {
                abort->select();
                return;
            }
        }
    }

    bool passwordAsked() const { return m_passwordAsked; }

private:
    std::atomic<bool> m_passwordAsked{false};
};

// A package name promises a package: .xlsx and .xlsm must be Office Open XML. Web pages and
// text exports saved under an .xls name are common and are accepted (and saved back as such).
bool acceptsFilter(const QString& suffix, const QString& filter)
{
    const QString lower = suffix.toLower();
    if (lower == QLatin1String("xlsx") || lower == QLatin1String("xlsm"))
        return filter.startsWith(QLatin1String("Calc MS Excel 2007")) ||
               filter == QLatin1String("Calc Office Open XML");
    return !filter.isEmpty();
}

// How much of a text file is looked at to judge what it holds.
constexpr qint64 kJudgedBytes = 1 << 20;
// Calc's column limit.
constexpr int kMaxTextColumns = 16384;

QByteArray fileStart(const QString& path, qint64 bytes)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(bytes) : QByteArray();
}

// A file that is neither a package nor a compound file, as the filter that must read it: a
// web page with a table, delimited text, or markup that LibreOffice's detection recognises
// (an XML spreadsheet). A plain text or a web page without a table is no workbook, whatever
// its name says; binary files are left to the detection.
struct TextExport
{
    enum class Kind
    {
        NotText,
        WebTable,
        Delimited,
        Markup,
        Plain
    } kind = Kind::NotText;
    QString filterOptions; // for Delimited: separator, quote, character set, first line
};

// The separator that splits every record of `text` (outside quotes), or 0; `fields` takes the
// most fields a record has.
char delimiterOf(const QByteArray& text, bool complete, int* fields)
{
    for (const char separator : {'\t', ';', ','}) {
        int records = 0;
        int least = -1;
        int most = 0;
        int count = 0;
        bool quoted = false;
        bool empty = true;
        auto endRecord = [&] {
            if (!empty) {
                ++records;
                least = least < 0 ? count : std::min(least, count);
                most = std::max(most, count);
            }
            count = 0;
            empty = true;
        };
        int end = text.size();
        if (!complete) // the last line may be cut short
            end = std::max(0, int(text.lastIndexOf('\n')));
        for (int i = 0; i < end; ++i) {
            const char c = text.at(i);
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && (c == '\n' || c == '\r'))
                endRecord();
            else if (!quoted && c == separator)
                ++count;
            if (c != '\n' && c != '\r' && c != ' ')
                empty = false;
        }
        endRecord();
        // A sentence with a comma is no table: one record needs two separators, and a tab
        // is never written into prose.
        if (records > 0 && least >= 1 && (separator == '\t' || records >= 2 || least >= 2)) {
            *fields = most + 1;
            return separator;
        }
    }
    return 0;
}

// LibreOffice's number for the text's character set: UTF-8 when it decodes as such, GB 18030
// (a superset of GBK, common for Chinese exports) when that decodes, else ISO-8859-1, which
// takes every byte and gives it back unchanged on saving.
int charsetOf(const QByteArray& text, bool complete)
{
    for (const auto& [name, number] : {std::pair<const char*, int>{"UTF-8", 76}, {"GB18030", 85}}) {
        QTextCodec* codec = QTextCodec::codecForName(name);
        if (!codec)
            continue;
        QTextCodec::ConverterState state;
        codec->toUnicode(text.constData(), text.size(), &state);
        if (state.invalidChars == 0 && (!complete || state.remainingChars == 0))
            return number;
    }
    return 12;
}

TextExport judgeTextExport(const QString& path)
{
    TextExport result;
    QByteArray start = fileStart(path, kJudgedBytes);
    const bool complete = QFileInfo(path).size() <= kJudgedBytes;
    if (start.startsWith("PK") || start.left(4096).contains('\0'))
        return result;
    if (start.startsWith("\xEF\xBB\xBF"))
        start = start.mid(3);
    if (start.trimmed().startsWith('<')) {
        const QByteArray lower = start.toLower();
        if (lower.contains("<table"))
            result.kind = TextExport::Kind::WebTable;
        else if (lower.contains("urn:schemas-microsoft-com:office:spreadsheet"))
            result.kind = TextExport::Kind::Markup;
        else
            result.kind = TextExport::Kind::Plain;
        return result;
    }
    int fields = 0;
    const char separator = delimiterOf(start, complete, &fields);
    if (separator == 0) {
        result.kind = TextExport::Kind::Plain;
        return result;
    }
    result.kind = TextExport::Kind::Delimited;
    // Every column is read as text, so each field is written back exactly as it stood ("0012"
    // stays "0012", "=A1" stays text); quoted fields are not forced to text, special numbers
    // are not detected.
    QStringList columns;
    for (int column = 1; column <= std::min(fields, kMaxTextColumns); ++column)
        columns << QStringLiteral("%1/2").arg(column);
    result.filterOptions = QStringLiteral("%1,34,%2,1,%3,0,false,false")
                               .arg(int(separator))
                               .arg(charsetOf(start, complete))
                               .arg(columns.join(QLatin1Char('/')));
    return result;
}

} // namespace

struct LibreOfficeServer::Private
{
    explicit Private(QString program) : process(std::move(program)) {}

    bool ensureStarted();
    void disconnect(int graceMs);

    OfficeProcess process;
    Reference<css::uno::XComponentContext> remote;
    Reference<css::frame::XComponentLoader> loader;
    QString lastError;
    qint64 startMs = -1;
};

bool LibreOfficeServer::Private::ensureStarted()
{
    if (loader.is() && process.isRunning())
        return true;
    if (loader.is()) {
        // The office went away under us (a crash); start a fresh one for what follows.
        disconnect(0);
    }

    const Reference<css::uno::XComponentContext> local = localUnoContext(&lastError);
    if (!local.is())
        return false;
    // A write to the pipe of an office that crashed must not kill this process.
    struct sigaction current = {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        ::signal(SIGPIPE, SIG_IGN);

    QElapsedTimer timer;
    timer.start();
    if (!process.start(&lastError))
        return false;
    const QString connectUrl =
        QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(process.pipeName());
    try {
        const Reference<css::bridge::XUnoUrlResolver> resolver = css::bridge::UnoUrlResolver::create(local);
        while (!remote.is()) {
            if (!process.isRunning()) {
                lastError = QStringLiteral("LibreOffice failed to start (%1)").arg(process.exitDescription());
                process.stop(0);
                return false;
            }
            if (timer.elapsed() > kConnectTimeoutMs) {
                lastError = QStringLiteral("LibreOffice did not accept a connection within %1 s")
                                .arg(kConnectTimeoutMs / 1000);
                process.stop(0);
                return false;
            }
            try {
                remote.set(resolver->resolve(toOUString(connectUrl)), UNO_QUERY);
            } catch (const css::connection::NoConnectException&) {
                QThread::msleep(kConnectRetryMs);
            }
        }
        const Reference<css::frame::XDesktop2> desktop = css::frame::Desktop::create(remote);
        loader.set(desktop, UNO_QUERY_THROW);
    } catch (const css::uno::Exception& e) {
        lastError = QStringLiteral("LibreOffice could not be reached: %1").arg(describe(e));
        remote.clear();
        loader.clear();
        process.stop(0);
        return false;
    }
    startMs = timer.elapsed();
    return true;
}

void LibreOfficeServer::Private::disconnect(int graceMs)
{
    if (loader.is()) {
        try {
            const Reference<css::frame::XDesktop> desktop(loader, UNO_QUERY);
            if (desktop.is())
                desktop->terminate();
        } catch (const css::uno::Exception&) {
            // Terminating tears the bridge down, so the reply may never come.
        }
    }
    loader.clear();
    remote.clear();
    process.stop(graceMs);
}

LibreOfficeServer::LibreOfficeServer(QString program) : d(std::make_unique<Private>(std::move(program))) {}

LibreOfficeServer::~LibreOfficeServer()
{
    quit();
}

bool LibreOfficeServer::isAvailable()
{
    return d->ensureStarted();
}

std::unique_ptr<Workbook> LibreOfficeServer::open(const QString& path)
{
    const QFileInfo info(QDir::fromNativeSeparators(path));
    if (!info.isFile() || !info.isReadable()) {
        d->lastError = QStringLiteral("%1 does not exist or cannot be read").arg(path);
        return nullptr;
    }
    if (info.size() == 0) {
        d->lastError = QStringLiteral("%1 is empty, not a workbook").arg(path);
        return nullptr;
    }
    const QString local = info.absoluteFilePath();
    QString forcedFilter;
    QString forcedOptions;
    if (isCompoundFile(local)) {
        // Calc opens a workbook encrypted with the default key without asking and would save it
        // unencrypted: such a workbook is never opened here, whatever key it has.
        if (compoundFileIsEncrypted(local)) {
            d->lastError = QStringLiteral("encrypted: the workbook is protected by a password");
            return nullptr;
        }
    } else {
        const TextExport text = judgeTextExport(local);
        switch (text.kind) {
        case TextExport::Kind::Plain:
            d->lastError = QStringLiteral(
                "not a workbook: a plain text file, neither a web-page table nor delimited data");
            return nullptr;
        case TextExport::Kind::WebTable:
            forcedFilter = QStringLiteral("HTML (StarCalc)");
            // Language, dates left as text, scientific numbers read: without options the
            // filter would ask for them.
            forcedOptions = QStringLiteral("1033 false true");
            break;
        case TextExport::Kind::Delimited:
            // Named explicitly, so the separator and character set are the file's own and the
            // save writes them back the same way.
            forcedFilter = QStringLiteral("Text - txt - csv (StarCalc)");
            forcedOptions = text.filterOptions;
            break;
        case TextExport::Kind::NotText:
        case TextExport::Kind::Markup:
            break;
        }
    }
    if (!d->ensureStarted())
        return nullptr;

    const rtl::OUString url = toOUString(QUrl::fromLocalFile(local).toString(QUrl::FullyEncoded));
    const rtl::Reference<RefusingInteractionHandler> handler(new RefusingInteractionHandler);
    css::uno::Sequence<css::beans::PropertyValue> args(7);
    args[0] = makeProperty("Hidden", Any(true));
    args[1] = makeProperty("ReadOnly", Any(false));
    args[2] = makeProperty("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE));
    args[3] = makeProperty("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE));
    args[4] =
        makeProperty("InteractionHandler", Any(Reference<css::task::XInteractionHandler>(handler.get())));
    // Only Calc may take the file, so an HTML export named .xls opens as a spreadsheet.
    args[5] = makeProperty("DocumentService", Any(rtl::OUString("com.sun.star.sheet.SpreadsheetDocument")));
    args[6] = makeProperty("Silent", Any(true));
    if (!forcedFilter.isEmpty()) {
        args.realloc(forcedOptions.isEmpty() ? 8 : 9);
        args[7] = makeProperty("FilterName", Any(toOUString(forcedFilter)));
        if (!forcedOptions.isEmpty())
            args[8] = makeProperty("FilterOptions", Any(toOUString(forcedOptions)));
    }

    Reference<css::lang::XComponent> document;
    // A file that makes LibreOffice loop must not stop the run: past the limit the office is
    // ended, the load fails, and the next open starts a fresh office.
    auto deadline = std::make_unique<Deadline>(d->process.pid(), kOpenTimeoutMs);
    try {
        document = d->loader->loadComponentFromURL(url, "_blank", 0, args);
    } catch (const css::uno::Exception& e) {
        const bool late = deadline->expired();
        deadline.reset();
        if (late)
            d->lastError = QStringLiteral("LibreOffice cannot open %1: it did not finish loading within %2 s")
                               .arg(path)
                               .arg(kOpenTimeoutMs / 1000);
        else if (handler->passwordAsked())
            d->lastError = QStringLiteral("LibreOffice cannot open %1: it is password protected").arg(path);
        else
            d->lastError = QStringLiteral("LibreOffice cannot open %1: %2").arg(path, describe(e));
        if (!late && !d->process.isRunning())
            d->lastError += QStringLiteral(" (LibreOffice %1)").arg(d->process.exitDescription());
        return nullptr;
    }
    deadline.reset();
    if (!document.is()) {
        d->lastError = handler->passwordAsked()
                           ? QStringLiteral("LibreOffice cannot open %1: it is password protected").arg(path)
                           : QStringLiteral("LibreOffice cannot open %1").arg(path);
        return nullptr;
    }

    try {
        const Reference<css::sheet::XSpreadsheetDocument> spreadsheet(document, UNO_QUERY);
        const Reference<css::frame::XModel> model(document, UNO_QUERY);
        if (!spreadsheet.is() || !model.is()) {
            d->lastError = QStringLiteral("LibreOffice did not open %1 as a spreadsheet").arg(path);
            const Reference<css::util::XCloseable> closeable(document, UNO_QUERY);
            if (closeable.is())
                closeable->close(true);
            return nullptr;
        }
        QString filter;
        QString filterOptions;
        const auto loadArgs = model->getArgs();
        for (const auto& arg : loadArgs) {
            rtl::OUString text;
            if (arg.Name == "FilterName" && (arg.Value >>= text))
                filter = toQString(text);
            else if (arg.Name == "FilterOptions" && (arg.Value >>= text))
                filterOptions = toQString(text);
        }
        if (!acceptsFilter(info.suffix(), filter)) {
            d->lastError = QStringLiteral("%1 is not a workbook of its kind (LibreOffice read it as \"%2\")")
                               .arg(path, filter);
            const Reference<css::util::XCloseable> closeable(document, UNO_QUERY);
            if (closeable.is())
                closeable->close(true);
            return nullptr;
        }
        return std::make_unique<LibreOfficeWorkbook>(document, info.absoluteFilePath(), filter, filterOptions,
                                                     d->remote);
    } catch (const css::uno::Exception& e) {
        d->lastError = QStringLiteral("LibreOffice cannot open %1: %2").arg(path, describe(e));
        return nullptr;
    }
}

void LibreOfficeServer::quit()
{
    d->disconnect(kQuitGraceMs);
}

QString LibreOfficeServer::lastError() const
{
    return d->lastError;
}

qint64 LibreOfficeServer::startMilliseconds() const
{
    return d->startMs;
}

qint64 LibreOfficeServer::officeProcessId() const
{
    return d->process.pid() > 0 ? d->process.pid() : 0;
}

} // namespace corvane::automation::libreoffice
