#include "platform/firewall.h"

#include "platform/servicecontrol.h"
#include "platform/win32/widetext.h"
#include "platform/winerror.h"

#include <winsock2.h>
#include <ws2ipdef.h>

// Declares ConvertInterfaceAliasToLuid only when the two above came first.
#include <iphlpapi.h>

#include <fwpmu.h>

#include <array>
#include <optional>
#include <type_traits>
#include <vector>

namespace platform {

namespace {

// The product's own keys: fixed, so that a later run, or the uninstaller, finds the block by key
// without enumerating the engine's filters. A filter's key is the base with its index as the last
// byte; no rule set reaches maximumFilters.
constexpr GUID providerKey = {
    0x539715a8, 0x3ce5, 0x4b7d, {0xa8, 0xc9, 0x1a, 0x1b, 0x14, 0x4a, 0xe6, 0x25}};
constexpr GUID subLayerKey = {
    0x74dbf841, 0x7185, 0x4ffb, {0xab, 0x9b, 0xfb, 0x8c, 0xe4, 0xc8, 0xcf, 0xdf}};
constexpr GUID filterKeyBase = {
    0xaf89b388, 0x4135, 0x4043, {0x86, 0xdf, 0x3a, 0xcf, 0xcc, 0x0e, 0x31, 0x00}};
constexpr std::uint8_t maximumFilters = 64;

// Layers and conditions of the Windows Filtering Platform that MinGW's headers leave out.
constexpr GUID connectV4Layer = {
    0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
constexpr GUID connectV6Layer = {
    0x4a72393b, 0x319f, 0x44bc, {0x84, 0xc3, 0xba, 0x54, 0xdc, 0xb3, 0xb6, 0xb4}};
constexpr GUID recvAcceptV4Layer = {
    0xe1cd9fe7, 0xf4b5, 0x4273, {0x96, 0xc0, 0x59, 0x2e, 0x48, 0x7b, 0x86, 0x50}};
constexpr GUID recvAcceptV6Layer = {
    0xa3b42c97, 0x9f04, 0x4672, {0xb8, 0x7e, 0xce, 0xe9, 0xc4, 0x83, 0x25, 0x7f}};
constexpr GUID flagsField = {
    0x632ce23b, 0x5167, 0x435c, {0x86, 0xd7, 0xe9, 0x03, 0x68, 0x4a, 0xa8, 0x0c}};
constexpr GUID appIdField = {
    0xd78e1e87, 0x8644, 0x4ea5, {0x94, 0x37, 0xd8, 0x09, 0xec, 0xef, 0xc9, 0x71}};
constexpr GUID protocolField = {
    0x3971ef2b, 0x623e, 0x4f9a, {0x8c, 0xb1, 0x6e, 0x79, 0xb8, 0x06, 0xb9, 0xa7}};
// At the ALE layers an ICMP message's type stands in the local port.
constexpr GUID localPortField = {
    0x0c1ba1af, 0x5765, 0x453f, {0xaf, 0x22, 0xa8, 0xf7, 0x91, 0xac, 0x77, 0x5b}};
constexpr GUID remotePortField = {
    0xc35a604d, 0xd22b, 0x4e1a, {0x91, 0xb4, 0x68, 0xf6, 0x74, 0xee, 0x67, 0x4b}};
constexpr GUID remoteAddressField = {
    0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};
constexpr GUID localInterfaceField = {
    0x4cd62a49, 0x59c3, 0x4969, {0xb7, 0xf3, 0xbd, 0xa5, 0xd3, 0x28, 0x90, 0xa4}};
constexpr UINT32 isLoopbackFlag = 0x00000001; // FWP_CONDITION_FLAG_IS_LOOPBACK

constexpr UINT8 udpProtocol = 17;
constexpr UINT8 icmpV6Protocol = 58;
constexpr UINT16 dnsPort = 53;
// The sublayer is weighed first among all; within it a permit outweighs the block.
constexpr UINT16 subLayerWeight = 0xFFFF;
constexpr UINT8 permitWeight = 1;
constexpr UINT8 blockWeight = 0;

struct Layer
{
    GUID key;
    bool v6;
};

// Outbound connections and inbound accepts, of each IP version.
constexpr std::array<Layer, 4> layers = {{{connectV4Layer, false},
                                          {connectV6Layer, true},
                                          {recvAcceptV4Layer, false},
                                          {recvAcceptV6Layer, true}}};

// A failing call whose error number is 0 must still read as a failure.
std::uint32_t lastError()
{
    const DWORD error = GetLastError();
    return error ? error : winerror::generalFailure;
}

// 0 also when the call failed only because there was nothing to do.
std::uint32_t unless(DWORD result, HRESULT nothingToDo)
{
    return result == static_cast<DWORD>(nothingToDo) ? winerror::success : result;
}

GUID filterKey(std::uint8_t index)
{
    GUID key = filterKeyBase;
    key.Data4[7] = index;
    return key;
}

// Wine's fwpuclnt has stubs only, and some of them end the calling process: nothing of it is
// loaded unless the Base Filtering Engine, which serves its calls, runs.
std::uint32_t filteringEngineState()
{
    ServiceManager manager(ManagerAccess::Connect);
    ServiceHandle service = manager.openService("BFE", ServiceQueryStatus);
    ServiceStatus status;
    if (const std::uint32_t error = service.query(status))
        return error;
    return status.state == ServiceState::Running ? winerror::success : winerror::serviceNotActive;
}

// fwpuclnt, loaded at run time, and the calls of it that the block makes.
class FilteringCalls
{
public:
    FilteringCalls() = default;
    FilteringCalls(const FilteringCalls &) = delete;
    FilteringCalls &operator=(const FilteringCalls &) = delete;
    ~FilteringCalls()
    {
        if (m_library)
            FreeLibrary(m_library);
    }

    std::uint32_t load()
    {
        m_library = LoadLibraryExW(L"fwpuclnt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!m_library)
            return lastError();
        const bool found =
            find(engineOpen, "FwpmEngineOpen0") && find(engineClose, "FwpmEngineClose0") &&
            find(transactionBegin, "FwpmTransactionBegin0") &&
            find(transactionCommit, "FwpmTransactionCommit0") &&
            find(transactionAbort, "FwpmTransactionAbort0") &&
            find(providerAdd, "FwpmProviderAdd0") &&
            find(providerDelete, "FwpmProviderDeleteByKey0") &&
            find(subLayerAdd, "FwpmSubLayerAdd0") &&
            find(subLayerDelete, "FwpmSubLayerDeleteByKey0") && find(filterAdd, "FwpmFilterAdd0") &&
            find(filterDelete, "FwpmFilterDeleteByKey0") &&
            find(appIdFromFileName, "FwpmGetAppIdFromFileName0") &&
            find(freeMemory, "FwpmFreeMemory0");
        return found ? winerror::success : ERROR_PROC_NOT_FOUND;
    }

    decltype(&FwpmEngineOpen0) engineOpen = nullptr;
    decltype(&FwpmEngineClose0) engineClose = nullptr;
    decltype(&FwpmTransactionBegin0) transactionBegin = nullptr;
    decltype(&FwpmTransactionCommit0) transactionCommit = nullptr;
    decltype(&FwpmTransactionAbort0) transactionAbort = nullptr;
    decltype(&FwpmProviderAdd0) providerAdd = nullptr;
    decltype(&FwpmProviderDeleteByKey0) providerDelete = nullptr;
    decltype(&FwpmSubLayerAdd0) subLayerAdd = nullptr;
    decltype(&FwpmSubLayerDeleteByKey0) subLayerDelete = nullptr;
    decltype(&FwpmFilterAdd0) filterAdd = nullptr;
    decltype(&FwpmFilterDeleteByKey0) filterDelete = nullptr;
    decltype(&FwpmGetAppIdFromFileName0) appIdFromFileName = nullptr;
    decltype(&FwpmFreeMemory0) freeMemory = nullptr;

private:
    template<typename Call> bool find(Call &call, const char *name)
    {
        call =
            reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(m_library, name)));
        return call != nullptr;
    }

    HMODULE m_library = nullptr;
};

// A session with the filtering engine, closed on every way out.
class Engine
{
public:
    explicit Engine(const FilteringCalls &calls)
        : m_calls(calls)
    {}
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;
    ~Engine()
    {
        if (m_handle)
            m_calls.engineClose(m_handle);
    }

    // Without session settings the session is a standard one, not a dynamic one: what it adds
    // stays when the process ends, until the filtering engine stops with the machine.
    std::uint32_t open()
    {
        HANDLE opened = nullptr;
        const DWORD error =
            m_calls.engineOpen(nullptr, RPC_C_AUTHN_WINNT, nullptr, nullptr, &opened);
        if (!error)
            m_handle = opened;
        return error;
    }
    HANDLE get() const { return m_handle; }

private:
    const FilteringCalls &m_calls;
    HANDLE m_handle = nullptr;
};

// One transaction of an open session, aborted unless committed: a step that fails changes nothing.
class Transaction
{
public:
    Transaction(const FilteringCalls &calls, HANDLE engine)
        : m_calls(calls)
        , m_engine(engine)
    {}
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    ~Transaction()
    {
        if (m_open)
            m_calls.transactionAbort(m_engine);
    }

    std::uint32_t begin()
    {
        const DWORD error = m_calls.transactionBegin(m_engine, 0);
        m_open = error == 0;
        return error;
    }
    std::uint32_t commit()
    {
        const DWORD error = m_calls.transactionCommit(m_engine);
        m_open = error != 0;
        return error;
    }

private:
    const FilteringCalls &m_calls;
    HANDLE m_engine;
    bool m_open = false;
};

// The engine's application id as the filtering platform derives it from the path, freed by it.
class AppId
{
public:
    explicit AppId(const FilteringCalls &calls)
        : m_calls(calls)
    {}
    AppId(const AppId &) = delete;
    AppId &operator=(const AppId &) = delete;
    ~AppId()
    {
        if (m_blob)
            m_calls.freeMemory(reinterpret_cast<void **>(&m_blob));
    }

    std::uint32_t make(const std::wstring &path)
    {
        return m_calls.appIdFromFileName(path.c_str(), &m_blob);
    }
    FWP_BYTE_BLOB *get() const { return m_blob; }

private:
    const FilteringCalls &m_calls;
    FWP_BYTE_BLOB *m_blob = nullptr;
};

// Runs `change` inside one transaction of a fresh session, committed only when it succeeds.
template<typename Change> std::uint32_t inTransaction(Change change)
{
    FilteringCalls calls;
    if (const std::uint32_t error = calls.load())
        return error;
    Engine engine(calls);
    if (const std::uint32_t error = engine.open())
        return error;
    Transaction transaction(calls, engine.get());
    if (const std::uint32_t error = transaction.begin())
        return error;
    if (const std::uint32_t error = change(calls, engine.get()))
        return error;
    return transaction.commit();
}

FWP_RANGE0 uint16Range(UINT16 low, UINT16 high)
{
    FWP_RANGE0 range{};
    range.valueLow.type = FWP_UINT16;
    range.valueLow.uint16 = low;
    range.valueHigh.type = FWP_UINT16;
    range.valueHigh.uint16 = high;
    return range;
}

// What the conditions point into; it outlives the adding of every filter.
struct FilterValues
{
    FWP_BYTE_BLOB *engineAppId = nullptr;
    std::optional<UINT64> adapterLuid;
    bool allowLocalNetwork = false;
    // Host byte order, as the filtering platform takes IPv4 addresses.
    std::array<FWP_V4_ADDR_AND_MASK, 6> localV4 = {{{0x0A000000, 0xFF000000},
                                                    {0xAC100000, 0xFFF00000},
                                                    {0xC0A80000, 0xFFFF0000},
                                                    {0xA9FE0000, 0xFFFF0000},
                                                    {0xE0000000, 0xF0000000},
                                                    {0xFFFFFFFF, 0xFFFFFFFF}}};
    std::array<FWP_V6_ADDR_AND_MASK, 3> localV6 = {{{{0xFE, 0x80}, 10}, {{0xFC}, 7}, {{0xFF}, 8}}};
    // Router solicitation and advertisement, neighbour solicitation and advertisement, redirect.
    FWP_RANGE0 neighbourDiscovery = uint16Range(133, 137);
};

template<typename Value>
FWPM_FILTER_CONDITION0 condition(const GUID &field, FWP_MATCH_TYPE match, Value value)
{
    FWPM_FILTER_CONDITION0 made{};
    made.fieldKey = field;
    made.matchType = match;
    FWP_CONDITION_VALUE0 &held = made.conditionValue;
    if constexpr (std::is_same_v<Value, UINT8>) {
        held.type = FWP_UINT8;
        held.uint8 = value;
    } else if constexpr (std::is_same_v<Value, UINT16>) {
        held.type = FWP_UINT16;
        held.uint16 = value;
    } else if constexpr (std::is_same_v<Value, UINT32>) {
        held.type = FWP_UINT32;
        held.uint32 = value;
    } else if constexpr (std::is_same_v<Value, UINT64 *>) {
        held.type = FWP_UINT64;
        held.uint64 = value;
    } else if constexpr (std::is_same_v<Value, FWP_BYTE_BLOB *>) {
        held.type = FWP_BYTE_BLOB_TYPE;
        held.byteBlob = value;
    } else if constexpr (std::is_same_v<Value, FWP_V4_ADDR_AND_MASK *>) {
        held.type = FWP_V4_ADDR_MASK;
        held.v4AddrMask = value;
    } else if constexpr (std::is_same_v<Value, FWP_V6_ADDR_AND_MASK *>) {
        held.type = FWP_V6_ADDR_MASK;
        held.v6AddrMask = value;
    } else {
        static_assert(std::is_same_v<Value, FWP_RANGE0 *>);
        held.type = FWP_RANGE_TYPE;
        held.rangeValue = value;
    }
    return made;
}

struct Rule
{
    std::wstring name;
    FWP_ACTION_TYPE action;
    std::vector<FWPM_FILTER_CONDITION0> conditions;
};

// The traffic let through at a layer of one IP version, then the block of everything else.
// Conditions on different fields must all hold; of those on one field, any one.
std::vector<Rule> rulesFor(bool v6, FilterValues &values)
{
    std::vector<Rule> rules;
    rules.push_back({L"Solvik VPN loopback",
                     FWP_ACTION_PERMIT,
                     {condition(flagsField, FWP_MATCH_FLAGS_ALL_SET, isLoopbackFlag)}});
    rules.push_back({L"Solvik VPN engine",
                     FWP_ACTION_PERMIT,
                     {condition(appIdField, FWP_MATCH_EQUAL, values.engineAppId)}});
    rules.push_back({v6 ? L"Solvik VPN DHCPv6" : L"Solvik VPN DHCP",
                     FWP_ACTION_PERMIT,
                     {condition(protocolField, FWP_MATCH_EQUAL, udpProtocol),
                      condition(localPortField, FWP_MATCH_EQUAL, UINT16(v6 ? 546 : 68)),
                      condition(remotePortField, FWP_MATCH_EQUAL, UINT16(v6 ? 547 : 67))}});
    if (v6) {
        rules.push_back({L"Solvik VPN neighbour discovery",
                         FWP_ACTION_PERMIT,
                         {condition(protocolField, FWP_MATCH_EQUAL, icmpV6Protocol),
                          condition(localPortField, FWP_MATCH_RANGE, &values.neighbourDiscovery)}});
    }
    if (values.adapterLuid) {
        rules.push_back({L"Solvik VPN tunnel",
                         FWP_ACTION_PERMIT,
                         {condition(localInterfaceField, FWP_MATCH_EQUAL, &*values.adapterLuid)}});
    }
    if (values.allowLocalNetwork) {
        // Name lookups stay inside the tunnel even towards a resolver on the local network.
        Rule local{L"Solvik VPN local network",
                   FWP_ACTION_PERMIT,
                   {condition(remotePortField, FWP_MATCH_NOT_EQUAL, dnsPort)}};
        if (v6) {
            for (FWP_V6_ADDR_AND_MASK &range : values.localV6)
                local.conditions.push_back(condition(remoteAddressField, FWP_MATCH_EQUAL, &range));
        } else {
            for (FWP_V4_ADDR_AND_MASK &range : values.localV4)
                local.conditions.push_back(condition(remoteAddressField, FWP_MATCH_EQUAL, &range));
        }
        rules.push_back(std::move(local));
    }
    rules.push_back({L"Solvik VPN block", FWP_ACTION_BLOCK, {}});
    return rules;
}

std::uint32_t deleteFilters(const FilteringCalls &calls, HANDLE engine)
{
    for (std::uint8_t index = 0; index < maximumFilters; ++index) {
        const GUID key = filterKey(index);
        if (const std::uint32_t error =
                unless(calls.filterDelete(engine, &key), FWP_E_FILTER_NOT_FOUND))
            return error;
    }
    return winerror::success;
}

// The provider and sublayer stay between changes; an earlier run may have added them.
std::uint32_t addFilters(const FilteringCalls &calls, HANDLE engine, FilterValues &values)
{
    std::wstring productName = L"Solvik VPN";
    GUID provider = providerKey;
    FWPM_PROVIDER0 providerEntry{};
    providerEntry.providerKey = provider;
    providerEntry.displayData.name = productName.data();
    if (const std::uint32_t error =
            unless(calls.providerAdd(engine, &providerEntry, nullptr), FWP_E_ALREADY_EXISTS))
        return error;
    FWPM_SUBLAYER0 subLayer{};
    subLayer.subLayerKey = subLayerKey;
    subLayer.displayData.name = productName.data();
    subLayer.providerKey = &provider;
    subLayer.weight = subLayerWeight;
    if (const std::uint32_t error =
            unless(calls.subLayerAdd(engine, &subLayer, nullptr), FWP_E_ALREADY_EXISTS))
        return error;

    std::uint8_t index = 0;
    for (const Layer &layer : layers) {
        for (Rule &rule : rulesFor(layer.v6, values)) {
            FWPM_FILTER0 filter{};
            filter.filterKey = filterKey(index++);
            filter.displayData.name = rule.name.data();
            filter.providerKey = &provider;
            filter.layerKey = layer.key;
            filter.subLayerKey = subLayerKey;
            filter.weight.type = FWP_UINT8;
            filter.weight.uint8 = rule.action == FWP_ACTION_BLOCK ? blockWeight : permitWeight;
            filter.numFilterConditions = static_cast<UINT32>(rule.conditions.size());
            filter.filterCondition = rule.conditions.data();
            filter.action.type = rule.action;
            UINT64 id = 0;
            if (const DWORD error = calls.filterAdd(engine, &filter, nullptr, &id))
                return error;
        }
    }
    return winerror::success;
}

class WindowsFirewall final : public Firewall
{
public:
    std::uint32_t apply(const FirewallRules &rules) override
    {
        const auto enginePath = win32::toWide(rules.enginePath);
        const auto adapterAlias = win32::toWide(rules.adapterAlias);
        if (!enginePath || enginePath->empty() || !adapterAlias)
            return winerror::invalidParameter;
        if (const std::uint32_t error = filteringEngineState())
            return error;
        return inTransaction([&](const FilteringCalls &calls, HANDLE engine) -> std::uint32_t {
            AppId appId(calls);
            if (const std::uint32_t error = appId.make(*enginePath))
                return error;
            FilterValues values;
            values.engineAppId = appId.get();
            values.allowLocalNetwork = rules.allowLocalNetwork;
            // An adapter not there yet gets no filter; the caller applies again once it is.
            NET_LUID adapter{};
            if (ConvertInterfaceAliasToLuid(adapterAlias->c_str(), &adapter) == NO_ERROR)
                values.adapterLuid = adapter.Value;
            if (const std::uint32_t error = deleteFilters(calls, engine))
                return error;
            return addFilters(calls, engine, values);
        });
    }

    std::uint32_t remove() override
    {
        const std::uint32_t state = filteringEngineState();
        // Without a running filtering engine nothing of the product's block can exist; this also
        // keeps the uninstaller's clean-up working under Wine.
        if (state == winerror::serviceDoesNotExist || state == winerror::serviceNotActive)
            return winerror::success;
        if (state)
            return state;
        return inTransaction([](const FilteringCalls &calls, HANDLE engine) -> std::uint32_t {
            if (const std::uint32_t error = deleteFilters(calls, engine))
                return error;
            if (const std::uint32_t error =
                    unless(calls.subLayerDelete(engine, &subLayerKey), FWP_E_SUBLAYER_NOT_FOUND))
                return error;
            return unless(calls.providerDelete(engine, &providerKey), FWP_E_PROVIDER_NOT_FOUND);
        });
    }
};

} // namespace

std::unique_ptr<Firewall> openSystemFirewall()
{
    return std::make_unique<WindowsFirewall>();
}

} // namespace platform
