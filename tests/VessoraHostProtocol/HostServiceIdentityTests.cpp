#include "VessoraHostProtocol/HostServiceError.hpp"
#include "VessoraHostProtocol/HostServiceIdentity.hpp"
#include "VessoraHostProtocol/SigningInfo.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vessora;

namespace {

const char* const signingMessage =
    "Local host setup requires the signed release of Vessora installed system-wide.";

SigningInfo signedRelease(std::string team = "ABCDE12345") {
    SigningInfo info;
    info.teamIdentifier = std::move(team);
    info.hardenedRuntime = true;
    return info;
}

// The team identifier teamID() returns, or the sentence it throws.
std::string team(const std::optional<SigningInfo>& info) {
    try {
        return HostServiceIdentity::teamID(info);
    } catch (const HostServiceError& error) {
        return error.what();
    }
}

} // namespace

TEST(HostServiceIdentity, FixedNames) {
    EXPECT_EQ(HostServiceIdentity::label, "vessora.host-service");
    EXPECT_EQ(HostServiceIdentity::plist, "vessora.host-service.plist");
    EXPECT_EQ(HostServiceIdentity::appIdentifier, "vessora.Vessora");
    EXPECT_EQ(HostServiceIdentity::helperIdentifier, "vessora.HostHelper");
}

TEST(HostServiceIdentity, RequirementIsTheFivePiecesJoined) {
    EXPECT_EQ(HostServiceIdentity::requirement(HostServiceIdentity::helperIdentifier, "ABCDE12345"),
              "anchor apple generic and identifier \"vessora.HostHelper\" and certificate "
              "leaf[subject.OU] = \"ABCDE12345\" and certificate "
              "leaf[field.1.2.840.113635.100.6.1.13] exists and "
              "!entitlement[\"com.apple.security.get-task-allow\"] exists");
    // No escaping.
    EXPECT_EQ(HostServiceIdentity::requirement("a\"b", ""),
              "anchor apple generic and identifier \"a\"b\" and certificate leaf[subject.OU] = "
              "\"\" and certificate leaf[field.1.2.840.113635.100.6.1.13] exists and "
              "!entitlement[\"com.apple.security.get-task-allow\"] exists");
}

TEST(HostServiceIdentity, TeamIDOfASignedRelease) {
    EXPECT_EQ(team(signedRelease()), "ABCDE12345");
    EXPECT_EQ(team(signedRelease("0000000000")), "0000000000");
}

TEST(HostServiceIdentity, TeamIDNeedsASignature) {
    EXPECT_EQ(team(std::nullopt), signingMessage);
    SigningInfo noTeam = signedRelease();
    noTeam.teamIdentifier.reset();
    EXPECT_EQ(team(noTeam), signingMessage);
}

TEST(HostServiceIdentity, TeamIDMustBeTenUpperCaseLettersOrDigits) {
    EXPECT_EQ(team(signedRelease("ABCDE1234")), signingMessage);
    EXPECT_EQ(team(signedRelease("ABCDE123456")), signingMessage);
    EXPECT_EQ(team(signedRelease("abcde12345")), signingMessage);
    EXPECT_EQ(team(signedRelease("ABCDE-1234")), signingMessage);
    EXPECT_EQ(team(signedRelease("")), signingMessage);
}

TEST(HostServiceIdentity, TeamIDNeedsTheHardenedRuntime) {
    SigningInfo info = signedRelease();
    info.hardenedRuntime = false;
    EXPECT_EQ(team(info), signingMessage);
}

TEST(HostServiceIdentity, TeamIDRefusesOnlyGetTaskAllowTrue) {
    SigningInfo info = signedRelease();
    info.getTaskAllow = true;
    EXPECT_EQ(team(info), signingMessage);
    info.getTaskAllow = false;
    EXPECT_EQ(team(info), "ABCDE12345");
}

TEST(SigningInfo, CompiledTeamIdentifierIsWellFormed) {
    const auto info = SigningInfo::current();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->teamIdentifier, VESSORA_TEAM_ID);
    EXPECT_FALSE(info->getTaskAllow.has_value());
    SigningInfo release = *info;
    release.hardenedRuntime = true;
    EXPECT_EQ(HostServiceIdentity::teamID(release), VESSORA_TEAM_ID);
}

TEST(SigningInfo, RunningProgramCountsAsInstalledOnlyWhenRootOwnedAndNotWritableByOthers) {
    struct stat status {};
    ASSERT_EQ(::stat("/proc/self/exe", &status), 0);
    const bool installed = status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    EXPECT_EQ(SigningInfo::current()->hardenedRuntime, installed);
    if (installed)
        EXPECT_EQ(HostServiceIdentity::teamID(), VESSORA_TEAM_ID);
    else
        EXPECT_THROW(HostServiceIdentity::teamID(), HostServiceError);
}

TEST(SigningInfo, ProgramFileOwnershipAndMode) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("vessora-signing-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto program = folder / "program";
    std::ofstream(program) << "#!/bin/sh\n";

    EXPECT_FALSE(SigningInfo::ofProgram(folder / "missing").has_value());
    EXPECT_FALSE(SigningInfo::ofProgram(folder).has_value()); // not a regular file

    const bool root = ::geteuid() == 0;
    ::chmod(program.c_str(), 0755);
    EXPECT_EQ(SigningInfo::ofProgram(program)->hardenedRuntime, root); // owned by us
    ::chmod(program.c_str(), 0775);
    EXPECT_FALSE(SigningInfo::ofProgram(program)->hardenedRuntime);
    ::chmod(program.c_str(), 0757);
    EXPECT_FALSE(SigningInfo::ofProgram(program)->hardenedRuntime);
    std::filesystem::remove_all(folder);
}
