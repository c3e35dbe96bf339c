#pragma once

#include "forms_export.h"

#include "errors.h"
#include "form.h"
#include "user32.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <typeindex>
#include <vector>

namespace forms {

// The application-level registry: one instance per window class, created on first
// reference, plus the services the windows share. A test can make a fresh one.
class FORMS_EXPORT Runtime : public QObject
{
    Q_OBJECT
public:
    explicit Runtime(QObject *parent = nullptr);
    ~Runtime() override;

    using FormFactory = std::function<std::unique_ptr<Form>(Runtime &)>;

    // The instance of a window class, by the class's name: created on first reference.
    template<class T>
    T &form()
    {
        return static_cast<T &>(formNamed(formKey<T>(), [](Runtime &rt) { return std::make_unique<T>(rt); }));
    }
    // A window class's name: its meta-object's, or, for a class without one of its own
    // (a test's helper), its C++ type's.
    template<class T>
    static QString formKey()
    {
        if (&T::staticMetaObject == &Form::staticMetaObject)
            return QString::fromLatin1(typeid(T).name());
        return QLatin1String(T::staticMetaObject.className());
    }
    // The same for a class known by name only (one from a module loaded later); a class
    // nobody registered raises.
    Form &formNamed(const QString &className, const FormFactory &make = {});
    Form *findForm(const QString &className) const;
    void registerForm(const QString &className, FormFactory make);
    bool isRegistered(const QString &className) const;

    // Puts a particular instance (a subclass, say) behind a window class before its
    // first reference.
    template<class T, class U>
    U &install(std::unique_ptr<U> instance)
    {
        static_assert(std::is_base_of_v<T, U>);
        U *raw = instance.get();
        m_forms[formKey<T>()] = std::move(instance);
        return *raw;
    }

    // The loaded windows, in load order. The copy a walk takes keeps every window that
    // was loaded when it began, however many of them unload on the way.
    std::vector<Form *> Forms() const { return m_loaded; }

    // Shared services (a browser profile, a player host, ...). They outlive every window.
    template<class S>
    S &service()
    {
        auto it = m_services.find(std::type_index(typeid(S)));
        if (it == m_services.end())
            raise(err::ObjectRequired, QStringLiteral("Service not provided"));
        return *static_cast<S *>(it->second.get());
    }
    template<class S>
    bool hasService() const
    {
        return m_services.count(std::type_index(typeid(S))) != 0;
    }
    // The service, made by make() the first time it is asked for.
    template<class S, class Make>
    S &service(Make make)
    {
        return hasService<S>() ? service<S>() : provide(std::unique_ptr<S>(make()));
    }
    template<class S>
    S &provide(std::unique_ptr<S> service)
    {
        return share(std::shared_ptr<S>(std::move(service)));
    }
    // A service that others hold too (a test's browser engine, kept for all its runs).
    template<class S>
    S &share(std::shared_ptr<S> service)
    {
        S *raw = service.get();
        m_serviceOrder.push_back(std::type_index(typeid(S)));
        m_services[std::type_index(typeid(S))] = std::move(service);
        return *raw;
    }

    // Where declared user32 functions are looked up.
    user32::Loader &user32() { return m_user32; }

    void setErrorReporter(ErrorReporter reporter);
    void report(const RuntimeError &error) const { m_reporter(error); }
    const ErrorReporter &errorReporter() const { return m_reporter; }

signals:
    // No window is loaded any more: the program ends here.
    void lastWindowUnloaded();

private:
    friend class Form;
    void formLoaded(Form *form);
    void formUnloaded(Form *form);
    void retire(QWidget *window);

    std::map<QString, std::unique_ptr<Form>> m_forms;
    std::map<QString, FormFactory> m_factories;
    std::map<std::type_index, std::shared_ptr<void>> m_services;
    std::vector<std::type_index> m_serviceOrder;
    std::vector<Form *> m_loaded;
    std::vector<QPointer<QWidget>> m_retired;
    ErrorReporter m_reporter = defaultErrorReport;
    user32::Loader m_user32;
};

} // namespace forms
