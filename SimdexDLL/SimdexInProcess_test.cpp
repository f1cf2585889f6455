// The service object linked into the test itself, where its parameter block
// and its last-error text can be read.
#include <string>
#include <vector>

#include "SimdexDLL/ServiceFixture_test.h"
#include "SimdexDLL/Simdex.h"
#include "m_trees/MetricTree.h"
#include "platform/ComObject.h"
#include "platform/LastError.h"

namespace simdex::testing {
namespace {

class SimdexInProcessTest : public ServiceTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(ComObject<Simdex>::Create(nullptr, IID_ISimdex, service_.PutVoid()), S_OK);
    index_ = NewDirectory();
    ASSERT_EQ(service_->Create(Path(index_), 10.0, CLSID_VectorAObject), S_OK);
    ASSERT_EQ(service_->Insert(1, Flat(0.5).get()), S_OK);
  }
  TreeParameters& Parameters() {
    return static_cast<Simdex*>(service_.get())->tree()->parameters();
  }

  ComPtr<ISimdex> service_;
  std::string index_;
};

TEST_F(SimdexInProcessTest, ThresholdsAreCopiedAndEachCallReplacesThem) {
  double thresholds[] = {0.25, 0.75, 9.0};
  ASSERT_EQ(service_->setApproximationThresholds(thresholds, 2), S_OK);
  thresholds[0] = 5.0;  // the caller's array is not kept
  EXPECT_EQ(Parameters().thresholds, (std::vector<double>{0.25, 0.75}));
  ASSERT_EQ(service_->setApproximationThresholds(thresholds + 2, 1), S_OK);
  EXPECT_EQ(Parameters().thresholds, (std::vector<double>{9.0}));
  for (int num : {0, -3}) {
    ASSERT_EQ(service_->setApproximationThresholds(thresholds, 2), S_OK);
    ASSERT_EQ(service_->setApproximationThresholds(thresholds, num), S_OK) << num;
    EXPECT_TRUE(Parameters().thresholds.empty()) << num;
  }
}

TEST_F(SimdexInProcessTest, MethodsThatEvaluateTheModelAreRefusedWithoutOne) {
  for (int method = 0; method <= 4; ++method)
    EXPECT_EQ(service_->setApproximationMethod(method), S_OK) << method;
  Parameters().model.reset();
  ASSERT_EQ(service_->setApproximationMethod(2), S_OK);
  for (int method : {1, 3}) {
    EXPECT_EQ(service_->setApproximationMethod(method), E_UNEXPECTED) << method;
    EXPECT_NE(LastErrorText().find("approximation method " + std::to_string(method)),
              std::string::npos)
        << LastErrorText();
    EXPECT_EQ(Parameters().approximationMethod, 2);
  }
  for (int method : {0, 2, 4}) EXPECT_EQ(service_->setApproximationMethod(method), S_OK) << method;

  // A method chosen while the model was there: the search is refused
  // instead of stopping the process.
  Parameters().approximationMethod = 3;
  double threshold = 0.5;
  ASSERT_EQ(service_->setApproximationThresholds(&threshold, 1), S_OK);
  ComPtr<IMTobject> query = Flat(0.5);
  EXPECT_EQ(service_->NNSearch(query.get(), 1), E_UNEXPECTED);
  EXPECT_EQ(service_->RangeSearch(query.get(), 1.0), E_UNEXPECTED);
  EXPECT_EQ(service_->setApproximationMethod(0), S_OK);
  EXPECT_EQ(service_->NNSearch(query.get(), 1), S_OK);
  EXPECT_EQ(Walk(service_.get()), (std::vector<Hit>{{1, 0.0}}));
}

TEST_F(SimdexInProcessTest, FailuresLeaveAReadableTextAndSuccessesClearIt) {
  std::string missing = index_ + "/missing";
  ComPtr<ISimdex> other;
  ASSERT_EQ(ComObject<Simdex>::Create(nullptr, IID_ISimdex, other.PutVoid()), S_OK);
  EXPECT_TRUE(FAILED(other->Create(Path(missing), 10.0, CLSID_VectorAObject)));
  EXPECT_NE(LastErrorText().find(missing), std::string::npos) << LastErrorText();
  int n = 0;
  EXPECT_EQ(other->getIOReads(&n), E_UNEXPECTED);
  EXPECT_NE(LastErrorText().find("call Create or Open first"), std::string::npos);
  ComPtr<IMTobject> wrong = Vector(CLSID_VectorBObject, std::vector<double>(144, 0.0));
  EXPECT_EQ(service_->Insert(2, wrong.get()), E_INVALIDARG);
  EXPECT_NE(LastErrorText().find("1152 bytes"), std::string::npos) << LastErrorText();
  EXPECT_EQ(service_->getIOReads(&n), S_OK);
  EXPECT_EQ(LastErrorText(), "");
}

}  // namespace
}  // namespace simdex::testing
