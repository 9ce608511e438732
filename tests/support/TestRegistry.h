#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// Collects the test classes of one test executable so that a shared main can run them all.
class TestRegistry {
public:
    using Factory = std::function<std::unique_ptr<QObject>()>;

    static std::vector<std::pair<const char*, Factory>>& all()
    {
        static std::vector<std::pair<const char*, Factory>> classes;
        return classes;
    }
    struct Registrar {
        Registrar(const char* name, Factory factory)
        {
            all().emplace_back(name, std::move(factory));
        }
    };
};

#define NIRVEX_TEST(Class)                                                                         \
    static TestRegistry::Registrar registrar_##Class(#Class,                                       \
                                                     [] { return std::make_unique<Class>(); });
