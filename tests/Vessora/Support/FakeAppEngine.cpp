#include "tests/Vessora/Support/FakeAppEngine.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"

#include <algorithm>
#include <stdexcept>

namespace vessora {

FakeAppEngine::FakeAppEngine(std::filesystem::path root)
    : root_(std::move(root)), profiles_(StackProfile::defaults()) {}

void FakeAppEngine::setProfiles(std::vector<StackProfile> profiles) {
    std::lock_guard lock(mutex_);
    profiles_ = std::move(profiles);
}

std::vector<StackProfile> FakeAppEngine::storedProfiles() const {
    std::lock_guard lock(mutex_);
    return profiles_;
}

void FakeAppEngine::setStatus(const std::string& id, StackStatus status) {
    std::lock_guard lock(mutex_);
    statuses_[id] = std::move(status);
}

void FakeAppEngine::setInstallations(InstallationStatus installations) {
    std::lock_guard lock(mutex_);
    installations_ = std::move(installations);
}

void FakeAppEngine::setConnected(bool connected) {
    std::lock_guard lock(mutex_);
    connected_ = connected;
}

void FakeAppEngine::setCertificateInfo(const std::string& id, LocalCertificateInfo info) {
    std::lock_guard lock(mutex_);
    certificates_[id] = std::move(info);
}

void FakeAppEngine::fail(const std::string& operation, std::optional<std::string> text) {
    std::lock_guard lock(mutex_);
    strangeFailures_.erase(operation);
    if (text)
        failures_[operation] = *text;
    else
        failures_.erase(operation);
}

void FakeAppEngine::failWithoutException(const std::string& operation) {
    std::lock_guard lock(mutex_);
    strangeFailures_.insert(operation);
}

void FakeAppEngine::hold(const std::string& operation) {
    std::lock_guard lock(mutex_);
    held_.insert(operation);
}

void FakeAppEngine::release(const std::string& operation) {
    std::lock_guard lock(mutex_);
    held_.erase(operation);
    gate_.notify_all();
}

void FakeAppEngine::releaseAll() {
    std::lock_guard lock(mutex_);
    held_.clear();
    gate_.notify_all();
}

bool FakeAppEngine::isHeld(const std::string& operation) const {
    std::lock_guard lock(mutex_);
    const auto entry = waiting_.find(operation);
    return entry != waiting_.end() && entry->second > 0;
}

void FakeAppEngine::setBusy(bool busy) {
    busy_.store(busy);
}

int FakeAppEngine::calls(const std::string& operation) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(operations_.begin(), operations_.end(), operation));
}

std::vector<std::string> FakeAppEngine::log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

bool FakeAppEngine::calledFrom(std::thread::id thread) const {
    std::lock_guard lock(mutex_);
    return threads_.count(thread) != 0;
}

void FakeAppEngine::record(const std::string& operation, const std::string& argument) {
    std::lock_guard lock(mutex_);
    operations_.push_back(operation);
    log_.push_back(argument.empty() ? operation : operation + "(" + argument + ")");
    threads_.insert(std::this_thread::get_id());
}

void FakeAppEngine::pass(const std::string& operation) {
    std::unique_lock lock(mutex_);
    if (held_.count(operation)) {
        ++waiting_[operation];
        gate_.notify_all();
        const bool released =
            gate_.wait_for(lock, holdLimit, [&] { return held_.count(operation) == 0; });
        --waiting_[operation];
        if (!released)
            throw std::runtime_error("FakeAppEngine: " + operation + " was never released");
    }
    if (strangeFailures_.count(operation))
        throw 42;
    if (const auto failure = failures_.find(operation); failure != failures_.end())
        throw VessoraError(failure->second);
}

void FakeAppEngine::enter(const std::string& operation, const std::string& argument) {
    record(operation, argument);
    pass(operation);
}

FakeAppEngine::BusyClaim FakeAppEngine::enterGuarded(const std::string& operation,
                                                     const std::string& argument) {
    record(operation, argument);
    if (busy_.exchange(true))
        throw VessoraError(L10n::text("Another Vessora action is still in progress."));
    BusyClaim claim(&busy_);
    pass(operation);
    return claim;
}

std::vector<StackProfile>::iterator FakeAppEngine::findLocked(const std::string& id) {
    const auto found = std::find_if(profiles_.begin(), profiles_.end(),
                                    [&](const StackProfile& profile) { return profile.id == id; });
    if (found == profiles_.end())
        throw VessoraError(L10n::text("Unknown environment."));
    return found;
}

std::filesystem::path FakeAppEngine::root() const {
    return root_;
}

std::vector<StackProfile> FakeAppEngine::openedProfiles() const {
    std::lock_guard lock(mutex_);
    return profiles_;
}

std::vector<StackProfile> FakeAppEngine::allProfiles() {
    enter("allProfiles", "");
    std::lock_guard lock(mutex_);
    return profiles_;
}

std::map<std::string, StackStatus> FakeAppEngine::statuses() {
    enter("statuses", "");
    std::lock_guard lock(mutex_);
    std::map<std::string, StackStatus> result;
    for (const StackProfile& profile : profiles_) {
        const auto status = statuses_.find(profile.id);
        result[profile.id] =
            status != statuses_.end() ? status->second : StackStatus{false, "Stopped", {}};
    }
    return result;
}

InstallationStatus FakeAppEngine::installations() {
    enter("installations", "");
    std::lock_guard lock(mutex_);
    return installations_;
}

bool FakeAppEngine::localHostConnected() {
    enter("localHostConnected", "");
    std::lock_guard lock(mutex_);
    return connected_;
}

LocalCertificateInfo FakeAppEngine::certificateInfo(const std::string& id) {
    enter("certificateInfo", id);
    std::lock_guard lock(mutex_);
    const auto certificate = certificates_.find(id);
    return certificate != certificates_.end() ? certificate->second : LocalCertificateInfo{};
}

StackProfile FakeAppEngine::create(const std::string& name, const std::string& php,
                                   const std::string& mariaDB, bool phpMyAdminEnabled,
                                   const std::string& webserver, bool httpsEnabled,
                                   const std::optional<std::string>& documentRoot,
                                   const std::string& databaseName,
                                   const std::optional<std::string>& hostname, bool virtualHost,
                                   bool standardPorts) {
    const BusyClaim claim = enterGuarded("create", name);
    std::lock_guard lock(mutex_);
    ++created_;
    StackProfile profile;
    profile.id = "env-fake-" + std::to_string(created_);
    profile.name = name;
    profile.php = php;
    profile.mariaDB = mariaDB;
    profile.httpPort = 18080 + created_;
    profile.phpPort = 19080 + created_;
    profile.databasePort = 23300 + created_;
    profile.phpMyAdminEnabled = phpMyAdminEnabled;
    profile.webserver = webserver;
    profile.httpsEnabled = httpsEnabled;
    if (httpsEnabled)
        profile.httpsPort = 18443 + created_;
    profile.documentRoot = documentRoot;
    profile.databaseName = databaseName;
    profile.hostname = hostname;
    profile.virtualHost = virtualHost;
    profile.standardPorts = standardPorts;
    profiles_.push_back(profile);
    return profile;
}

void FakeAppEngine::update(const StackProfile& profile) {
    const BusyClaim claim = enterGuarded("update", profile.id);
    std::lock_guard lock(mutex_);
    *findLocked(profile.id) = profile;
}

void FakeAppEngine::remove(const std::string& id) {
    const BusyClaim claim = enterGuarded("remove", id);
    std::lock_guard lock(mutex_);
    profiles_.erase(findLocked(id));
    statuses_.erase(id);
}

void FakeAppEngine::install(const std::string& id) {
    const BusyClaim claim = enterGuarded("install", id);
}

void FakeAppEngine::configureLocalHosts(bool enabled) {
    const BusyClaim claim = enterGuarded("configureLocalHosts", enabled ? "true" : "false");
    std::lock_guard lock(mutex_);
    connected_ = enabled;
}

void FakeAppEngine::renewCertificate(const std::string& id) {
    const BusyClaim claim = enterGuarded("renewCertificate", id);
}

void FakeAppEngine::start(const std::string& id) {
    const BusyClaim claim = enterGuarded("start", id);
    std::lock_guard lock(mutex_);
    findLocked(id);
    statuses_[id] = StackStatus{true, "Running", {{"MariaDB", 101}, {"PHP", 102}, {"nginx", 103}}};
}

void FakeAppEngine::stop(const std::string& id) {
    const BusyClaim claim = enterGuarded("stop", id);
    std::lock_guard lock(mutex_);
    findLocked(id);
    statuses_[id] = StackStatus{false, "Stopped", {}};
}

void FakeAppEngine::stopAll() {
    const BusyClaim claim = enterGuarded("stopAll", "");
    std::lock_guard lock(mutex_);
    statuses_.clear();
}

} // namespace vessora
