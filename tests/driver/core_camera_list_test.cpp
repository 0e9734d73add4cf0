// CameraList: the registry's life, its names, and the lookups by name and by
// port with their log lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/camera_list.h"
#include "core_test_support.h"

namespace {

using coretest::Captured;
using coretest::ThrowsRegistryError;

class CameraListTest : public coretest::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        CameraList::DestroyInstance();
        Captured().Clear();
    }

    void TearDown() override {
        CameraList::DestroyInstance();
        CoreTest::TearDown();
    }

    static CameraList* Populated() {
        CameraList* list = CameraList::GetInstance();
        EXPECT_TRUE(list->Init());
        Captured().Clear();
        return list;
    }

    static std::vector<std::string> RegistryLines() { return Captured().MessagesStartingWith("CameraList::"); }

    // Opens `camera` without a server; the settings file must hold its
    // section. Opening sets the log level from the file.
    static void OpenServerless(Camera* camera, int port) {
        int dimensions[2] = {-7, -7};
        ASSERT_TRUE(camera->Open(port, dimensions));
        ASSERT_TRUE(camera->isOpen);
        ASSERT_EQ(port, camera->port);
    }

    void WriteServerlessSections(const std::vector<std::string>& cameras, int logLevel = 1) const {
        std::string text;
        for (const std::string& camera : cameras) {
            text += coretest::ServerlessSection(camera, logLevel);
        }
        WriteIni(text);
    }
};

// ---- Life ----

TEST_F(CameraListTest, GetInstanceCreatesOneEmptyRegistrySilently) {
    GetDriverState()->logLevel = 4;

    CameraList* first = CameraList::GetInstance();
    CameraList* second = CameraList::GetInstance();

    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(0, first->Count());
    EXPECT_TRUE(Captured().Calls().empty());
}

TEST_F(CameraListTest, InitBuildsThirtyTwoClosedCameras) {
    GetDriverState()->logLevel = 4;
    CameraList* list = CameraList::GetInstance();

    EXPECT_TRUE(list->Init());

    EXPECT_EQ((std::vector<std::string>{"CameraList::Init: entering\n", "CameraList::Init: leaving\n"}),
              Captured().Messages());
    ASSERT_EQ(32, list->Count());
    const char** names = list->GetConfigNames();
    for (int i = 0; i < 32; ++i) {
        Camera* camera = list->GetByName(names[i]);
        EXPECT_FALSE(camera->isOpen) << names[i];
        EXPECT_FALSE(camera->isConnected) << names[i];
        EXPECT_EQ(kNoPort, camera->port) << names[i];
    }
}

TEST_F(CameraListTest, InitLogsNothingAtLevelOne) {
    CameraList::GetInstance()->Init();

    EXPECT_TRUE(Captured().Calls().empty());
}

TEST_F(CameraListTest, InitAgainAppendsAnotherSet) {
    CameraList* list = Populated();

    list->Init();

    ASSERT_EQ(64, list->Count());
    const char** names = list->GetConfigNames();
    EXPECT_STREQ("Camera 32", names[31]);
    EXPECT_STREQ("Camera 1", names[32]);
    EXPECT_STREQ("Camera 32", names[63]);
    EXPECT_EQ(nullptr, names[64]);
    EXPECT_EQ(names[0], list->GetByName("Camera 1")->name.c_str());
}

TEST_F(CameraListTest, DestroyEmptiesTheRegistry) {
    CameraList* list = Populated();
    GetDriverState()->logLevel = 4;

    list->Destroy();

    EXPECT_EQ((std::vector<std::string>{"CameraList::Destroy: entering\n", "CameraList::Destroy: leaving\n"}),
              Captured().Messages());
    EXPECT_EQ(0, list->Count());
    EXPECT_EQ(nullptr, list->GetConfigNames()[0]);
}

TEST_F(CameraListTest, DestroyInstanceLogsAndTheNextInstanceIsEmpty) {
    Populated();
    GetDriverState()->logLevel = 2;

    CameraList::DestroyInstance();

    EXPECT_EQ((std::vector<std::string>{"CameraList::~CameraList: entering\n", "CameraList::Destroy: entering\n",
                                        "CameraList::Destroy: leaving\n", "CameraList::~CameraList: leaving\n"}),
              Captured().Messages());
    EXPECT_EQ(0, CameraList::GetInstance()->Count());
}

TEST_F(CameraListTest, DestroyInstanceClosesOpenCameras) {
    WriteServerlessSections({"Camera 4"}, 2);
    CameraList* list = Populated();
    OpenServerless(list->GetByName("Camera 4"), 9);
    Captured().Clear();

    CameraList::DestroyInstance();

    EXPECT_EQ((std::vector<std::string>{"Camera::Close: entering\n"}),
              Captured().MessagesStartingWith("Camera::Close: entering"));
}

// ---- Names ----

TEST_F(CameraListTest, ConfigNamesOfAnEmptyRegistryHoldOnlyTheEnd) {
    const char** names = CameraList::GetInstance()->GetConfigNames();

    ASSERT_NE(nullptr, names);
    EXPECT_EQ(nullptr, names[0]);
}

TEST_F(CameraListTest, ConfigNamesAreCamera1To32ThenNull) {
    CameraList* list = Populated();

    const char** names = list->GetConfigNames();

    for (int i = 0; i < 32; ++i) {
        ASSERT_NE(nullptr, names[i]) << i;
        EXPECT_EQ("Camera " + std::to_string(i + 1), names[i]);
    }
    EXPECT_EQ(nullptr, names[32]);
    // The cameras' own texts, not copies.
    EXPECT_EQ(list->GetByName("Camera 17")->name.c_str(), names[16]);
}

TEST_F(CameraListTest, SecondConfigNamesCallBuildsTheSameList) {
    CameraList* list = Populated();
    const char** first = list->GetConfigNames();
    const std::vector<const char*> firstEntries(first, first + 33);

    const char** second = list->GetConfigNames();

    EXPECT_EQ(firstEntries, std::vector<const char*>(second, second + 33));
}

// ---- By name ----

struct AvailabilityCase {
    const char* name;
    const char* cameraName;
    bool available;
};

const AvailabilityCase kAvailability[] = {
    {"FirstExact", "Camera 1", true},      {"LastExact", "Camera 32", true},
    {"SmallLetters", "camera 1", false},   {"CapitalLetters", "CAMERA 1", false},
    {"TrailingBlank", "Camera 1 ", false}, {"LeadingBlank", " Camera 1", false},
    {"LeadingZero", "Camera 01", false},   {"BeyondTheLast", "Camera 33", false},
    {"Prefix", "Camera", false},           {"Empty", "", false},
};

class CameraListAvailabilityTest : public CameraListTest, public testing::WithParamInterface<AvailabilityCase> {};

TEST_P(CameraListAvailabilityTest, MatchesExactlyAndLogsTheName) {
    const AvailabilityCase& row = GetParam();
    CameraList* list = Populated();
    GetDriverState()->logLevel = 3;

    EXPECT_EQ(row.available, list->IsCameraAvailable(row.cameraName));

    EXPECT_EQ(std::vector<std::string>{"CameraList::IsCameraAvailable:  name=" + std::string(row.cameraName) + "\n"},
              Captured().Messages());
}

INSTANTIATE_TEST_SUITE_P(Rows, CameraListAvailabilityTest, testing::ValuesIn(kAvailability), RowName());

TEST_F(CameraListTest, EmptyRegistryHasNoCameraAvailable) {
    CameraList* list = CameraList::GetInstance();

    EXPECT_FALSE(list->IsCameraAvailable("Camera 1"));
    EXPECT_FALSE(list->IsCameraAvailable(nullptr));
}

TEST_F(CameraListTest, NullNameThrowsTheRegistryErrorOnceThereAreCameras) {
    CameraList* list = Populated();

    EXPECT_TRUE(ThrowsRegistryError([list] { list->IsCameraAvailable(nullptr); }));
    EXPECT_TRUE(ThrowsRegistryError([list] { list->GetByName(nullptr); }));
}

TEST_F(CameraListTest, GetByNameLogsEnteringAndLeaving) {
    CameraList* list = Populated();
    GetDriverState()->logLevel = 3;

    Camera* camera = list->GetByName("Camera 7");

    ASSERT_NE(nullptr, camera);
    EXPECT_EQ("Camera 7", camera->name);
    EXPECT_EQ((std::vector<std::string>{"CameraList::GetByName: entering Camera 7\n",
                                        "CameraList::GetByName: leaving Camera 7\n"}),
              Captured().Messages());
}

TEST_F(CameraListTest, GetByNameOfAnUnknownNameLogsAndThrows) {
    CameraList* list = Populated();
    GetDriverState()->logLevel = 3;

    EXPECT_TRUE(ThrowsRegistryError([list] { list->GetByName("camera 7"); }));

    EXPECT_EQ((std::vector<std::string>{"CameraList::GetByName: entering camera 7\n",
                                        "CameraList::GetByName: ERROR: could not find camera camera 7\n"}),
              Captured().Messages());
}

TEST_F(CameraListTest, GetByNameOnAnEmptyRegistryLogsAndThrows) {
    CameraList* list = CameraList::GetInstance();

    EXPECT_TRUE(ThrowsRegistryError([list] { list->GetByName("Camera 1"); }));
    EXPECT_TRUE(ThrowsRegistryError([list] { list->GetByName(nullptr); }));

    EXPECT_EQ((std::vector<std::string>{"CameraList::GetByName: ERROR: could not find camera Camera 1\n",
                                        "CameraList::GetByName: ERROR: could not find camera (null)\n"}),
              Captured().Messages());
}

// ---- By port ----

TEST_F(CameraListTest, GetByPortOfAPortNoCameraHoldsLogsAndThrows) {
    CameraList* list = Populated();

    EXPECT_TRUE(ThrowsRegistryError([list] { list->GetByPort(5); }));

    EXPECT_EQ(std::vector<std::string>{"CameraList::GetByPort: ERROR: could not find camera on port 5\n"},
              Captured().Messages());
}

TEST_F(CameraListTest, GetByPortOnAnEmptyRegistryLogsAndThrows) {
    CameraList* list = CameraList::GetInstance();

    EXPECT_TRUE(ThrowsRegistryError([list] { list->GetByPort(kNoPort); }));

    EXPECT_EQ(std::vector<std::string>{"CameraList::GetByPort: ERROR: could not find camera on port -2\n"},
              Captured().Messages());
}

TEST_F(CameraListTest, NoPortWhileCamerasAreClosedGivesTheFirstClosedCamera) {
    CameraList* list = Populated();

    Camera* camera = list->GetByPort(kNoPort);

    EXPECT_EQ(list->GetByName("Camera 1"), camera);
    EXPECT_EQ(
        std::vector<std::string>{
            "CameraList::GetByPort: ERROR: found camera on requested port -2, but the camera is closed\n"},
        RegistryLines());
}

TEST_F(CameraListTest, OpenCameraIsFoundByItsPortAndNoPortSkipsIt) {
    WriteServerlessSections({"Camera 1"});
    CameraList* list = Populated();
    Camera* first = list->GetByName("Camera 1");
    OpenServerless(first, 7);
    Captured().Clear();

    EXPECT_EQ(first, list->GetByPort(7));
    EXPECT_TRUE(RegistryLines().empty());
    EXPECT_EQ(list->GetByName("Camera 2"), list->GetByPort(kNoPort));

    first->Close();
    Captured().Clear();
    EXPECT_TRUE(ThrowsRegistryError([list] { list->GetByPort(7); }));
    EXPECT_EQ(std::vector<std::string>{"CameraList::GetByPort: ERROR: could not find camera on port 7\n"},
              RegistryLines());
}

TEST_F(CameraListTest, TwoOpenCamerasSharingAPortGiveTheEarlierInCreationOrder) {
    WriteServerlessSections({"Camera 2", "Camera 5"});
    CameraList* list = Populated();
    Camera* later = list->GetByName("Camera 5");
    Camera* earlier = list->GetByName("Camera 2");
    OpenServerless(later, 3);
    OpenServerless(earlier, 3);
    Captured().Clear();

    EXPECT_EQ(earlier, list->GetByPort(3));
    EXPECT_TRUE(RegistryLines().empty());

    earlier->Close();
    EXPECT_EQ(later, list->GetByPort(3));
    later->Close();
}

}  // namespace
