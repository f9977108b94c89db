#include "SceneEnvironment.h"

#include "SceneTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace refhost_test {
namespace {

bool bSceneUp = false;

class SceneEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        pScene = std::make_unique<scenetest::SceneRun>();
        const std::wstring pointer = std::to_wstring(kScenePointer.x) + L"," + std::to_wstring(kScenePointer.y);
        bSceneUp = pScene->Start(scene::Pattern::Coords, L"--pointer " + pointer) && pScene->WaitReady();
        EXPECT_TRUE(bSceneUp) << "the scene did not come up";
    }

    void TearDown() override
    {
        if (pScene) {
            EXPECT_EQ(pScene->Quit(), 0) << "the scene's exit code";
        }
        pScene.reset();
    }

private:
    std::unique_ptr<scenetest::SceneRun> pScene;
};

// Registered before main runs the tests; gtest owns and deletes it.
[[maybe_unused]] ::testing::Environment* const pSceneEnvironment =
    ::testing::AddGlobalTestEnvironment(new SceneEnvironment);

}  // namespace

bool SceneIsUp()
{
    return bSceneUp;
}

}  // namespace refhost_test
