// Benchmarks of the fetch run: against the floor of one bare libldap search of a local slapd, and
// with long lists through the log file and the Qt pane. Run with QT_QPA_PLATFORM=offscreen.

#include "ClientConfiguration.h"
#include "FakeDirectory.h"
#include "ScriptedServer.h"
#include "SlapdServer.h"
#include "TempDirectory.h"
#include "report/FetchAttributes.h"
#include "report/ldap/LdapDirectory.h"
#include "trace/LogFile.h"
#include "window/qt/frmQuindral.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <benchmark/benchmark.h>
#include <ldap.h>
#include <memory>
#include <thread>

using namespace quindral;
using namespace quindral::testing;

namespace {

std::unique_ptr<SlapdServer> server;
std::string serverUri;

void BareSearch(benchmark::State& state) {
    for (auto _ : state) {
        LDAP* ld = nullptr;
        ldap_initialize(&ld, serverUri.c_str());
        int version = LDAP_VERSION3;
        ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
        char all[] = "*", operational[] = "+";
        char* attributes[] = {all, operational, nullptr};
        LDAPMessage* result = nullptr;
        ldap_search_ext_s(ld, "", LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0, nullptr,
                          nullptr, nullptr, 0, &result);
        benchmark::DoNotOptimize(ldap_first_entry(ld, result));
        ldap_msgfree(result);
        ldap_unbind_ext_s(ld, nullptr, nullptr);
    }
}
BENCHMARK(BareSearch)->Unit(benchmark::kMicrosecond);

void FetchRunThroughLdap(benchmark::State& state) {
    ClientConfiguration configuration(serverUri);
    TempDirectory dir;
    StringTextHolder pane;
    TraceSink sink(pane, LogFilePathIn(dir.path()));
    LdapDirectory directory;
    for (auto _ : state) {
        FetchAttributes("LDAP", directory, sink);
    }
}
BENCHMARK(FetchRunThroughLdap)->Unit(benchmark::kMicrosecond);

// Time to the failed-bind report with the default timeouts (5 s to connect, 15 s to search).
void FetchRunsAgainst(benchmark::State& state, const std::string& uri) {
    ClientConfiguration configuration(uri);
    StringTextHolder pane;
    TraceSink sink(pane, "/dev/null");
    LdapDirectory directory;
    for (auto _ : state) {
        FetchAttributes("LDAP", directory, sink);
    }
}

void FailedBindRefused(benchmark::State& state) {
    FetchRunsAgainst(state, "ldap://" + RandomLoopbackAddress() + ":1");
}
BENCHMARK(FailedBindRefused)->Unit(benchmark::kMicrosecond);

void FailedBindBlackHoledHandshake(benchmark::State& state) {
    ScriptedServer hole(RandomLoopbackAddress(), {}, /*acceptConnections=*/false);
    FetchRunsAgainst(state, hole.Uri());
}
BENCHMARK(FailedBindBlackHoledHandshake)->Iterations(1)->Unit(benchmark::kSecond);

void FailedBindSilentListener(benchmark::State& state) {
    ScriptedServer silent(RandomLoopbackAddress(), [](int fd, const auto& stopping) {
        ReadRequest(fd, stopping);
        while (!stopping()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    FetchRunsAgainst(state, silent.Uri());
}
BENCHMARK(FailedBindSilentListener)->Iterations(1)->Unit(benchmark::kSecond);

FakeDirectory LongList(int values) {
    std::vector<DirectoryValue> list;
    for (int i = 0; i < values; ++i) {
        list.push_back(DirectoryValue::Text("DC=n" + std::to_string(i) + ",DC=quindral,DC=test"));
    }
    FakeDirectory directory;
    directory.Add("LDAP://rootDSE", {{"namingContexts", DirectoryValue::List(std::move(list))}});
    return directory;
}

void LongListToLogAndStringPane(benchmark::State& state) {
    FakeDirectory directory = LongList(static_cast<int>(state.range(0)));
    TempDirectory dir;
    StringTextHolder pane;
    TraceSink sink(pane, LogFilePathIn(dir.path()));
    for (auto _ : state) {
        FetchAttributes("LDAP", directory, sink);
    }
}
BENCHMARK(LongListToLogAndStringPane)
    ->Arg(1024)
    ->Arg(8192)
    ->Arg(32768)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

void LongListThroughTheQtWindow(benchmark::State& state) {
    FakeDirectory directory = LongList(static_cast<int>(state.range(0)));
    TempDirectory dir;
    frmQuindral form(directory, LogFilePathIn(dir.path()));
    form.cbo1->setCurrentIndex(1);
    form.show();
    for (auto _ : state) {
        form.Command1->click();
        QApplication::processEvents();
    }
}
BENCHMARK(LongListThroughTheQtWindow)
    ->Arg(1024)
    ->Arg(8192)
    ->Arg(32768)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (CanListenOnLowPorts()) {
        const std::string address = RandomLoopbackAddress();
        server =
            std::make_unique<SlapdServer>(SlapdServer::Options{address, {389}, "ad-ldap.ldif"});
        serverUri = server->Uri(389);
    }
    benchmark::Initialize(&argc, argv);
    if (serverUri.empty()) {
        benchmark::SetBenchmarkFilter("LongList");
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    server.reset();
    return 0;
}
