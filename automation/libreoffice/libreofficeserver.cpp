#include "libreofficeserver.h"

#include "deadline.h"
#include "libreofficeworkbook.h"
#include "officeprocess.h"
#include "unoutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

QByteArray fileStart(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(4096) : QByteArray();
}

bool fileHasTabs(const QString& path)
{
    return fileStart(path).contains('\t');
}

// The Calc import filter for a web page or text export, from its first bytes; empty for
// anything else (binary files are left to LibreOffice's detection).
QString guessExportFilter(const QString& path)
{
    QByteArray start = fileStart(path);
    if (start.startsWith("\xEF\xBB\xBF"))
        start = start.mid(3);
    if (start.isEmpty() || start.contains('\0'))
        return {};
    if (start.trimmed().startsWith('<'))
        return QStringLiteral("HTML (StarCalc)");
    return QStringLiteral("Text - txt - csv (StarCalc)");
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
    if (!d->ensureStarted())
        return nullptr;

    const rtl::OUString url =
        toOUString(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded));
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
    if (!document.is() && !handler->passwordAsked()) {
        // Web pages and text exports saved under a workbook name are not always recognised by
        // LibreOffice's detection; name the filter their first bytes suggest and try once more.
        const QString filter = guessExportFilter(info.absoluteFilePath());
        if (!filter.isEmpty()) {
            css::uno::Sequence<css::beans::PropertyValue> retry(args.getLength() + 2);
            for (sal_Int32 i = 0; i < args.getLength(); ++i)
                retry[i] = args[i];
            retry[args.getLength()] = makeProperty("FilterName", Any(toOUString(filter)));
            const bool tabs =
                filter.startsWith(QLatin1String("Text")) && fileHasTabs(info.absoluteFilePath());
            retry[args.getLength() + 1] = makeProperty(
                "FilterOptions", Any(rtl::OUString::createFromAscii(tabs ? "9,34,76,1" : "44,34,76,1")));
            try {
                const Deadline again(d->process.pid(), kOpenTimeoutMs);
                document = d->loader->loadComponentFromURL(url, "_blank", 0, retry);
            } catch (const css::uno::Exception&) {
                document.clear();
            }
        }
    }
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

} // namespace corvane::automation::libreoffice
