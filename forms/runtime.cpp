#include "runtime.h"

#include <QCoreApplication>

#include <algorithm>

namespace forms {

Runtime::Runtime(QObject *parent) : QObject(parent) { }

Runtime::~Runtime()
{
    // Windows first, then the services they use (a browser page must go before its
    // profile), newest service first.
    for (auto &[type, form] : m_forms)
        form->destroyWindow();
    for (auto &w : m_retired)
        delete w.data();
    m_retired.clear();
    m_forms.clear();
    for (auto it = m_serviceOrder.rbegin(); it != m_serviceOrder.rend(); ++it)
        m_services.erase(*it);
}

Form &Runtime::formNamed(const QString &className, const FormFactory &make)
{
    if (auto it = m_forms.find(className); it != m_forms.end() && it->second)
        return *it->second;
    // Made before it takes a slot: a factory that raises leaves nothing half-registered.
    const auto registered = m_factories.find(className);
    std::unique_ptr<Form> made = make                              ? make(*this)
                                 : registered != m_factories.end() ? registered->second(*this)
                                                                   : nullptr;
    if (!made)
        raise(err::ObjectRequired, QStringLiteral("Object required: %1").arg(className));
    auto &slot = m_forms[className];
    if (!slot) // a factory may have referenced its own class: the first instance stays
        slot = std::move(made);
    return *slot;
}

Form *Runtime::findForm(const QString &className) const
{
    auto it = m_forms.find(className);
    return it == m_forms.end() ? nullptr : it->second.get();
}

void Runtime::registerForm(const QString &className, FormFactory make)
{
    m_factories[className] = std::move(make);
}

bool Runtime::isRegistered(const QString &className) const
{
    return m_factories.count(className) != 0 || m_forms.count(className) != 0;
}

void Runtime::setErrorReporter(ErrorReporter reporter)
{
    m_reporter = reporter ? std::move(reporter) : ErrorReporter(defaultErrorReport);
}

void Runtime::formLoaded(Form *form)
{
    m_loaded.push_back(form);
}

void Runtime::formUnloaded(Form *form)
{
    std::erase(m_loaded, form);
    if (m_loaded.empty())
        emit lastWindowUnloaded();
}

void Runtime::retire(QWidget *window)
{
    // Unload can run inside a handler of one of the window's own controls, so the
    // widgets go at the next turn of the event loop; until then they are hidden.
    std::erase_if(m_retired, [](const QPointer<QWidget> &p) { return p.isNull(); });
    m_retired.emplace_back(window);
    window->deleteLater();
}

} // namespace forms
