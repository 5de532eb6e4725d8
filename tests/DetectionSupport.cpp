#include "DetectionSupport.hpp"

#include <gtest/gtest.h>

#include <vector>

#include <opencv2/core.hpp>

namespace cvcomp::test {

std::filesystem::path frontalFace() {
  const std::filesystem::path path = std::filesystem::path(CVCOMP_CASCADE_DATA) /
                                     "haarcascades/haarcascade_frontalface_default.xml";
  EXPECT_TRUE(std::filesystem::exists(path)) << "missing cascade " << path;
  return path;
}

namespace {

std::vector<double> numbers(const cv::FileNode& node) {
  std::vector<double> values;
  for (const cv::FileNode& value : node) values.push_back(static_cast<double>(value));
  return values;
}

// One child of a classic tree node: a further node of the tree, or a leaf value. In the current
// format a child above 0 is the index of a node and any other child the negated index of a leaf.
void writeChild(cv::FileStorage& out, const std::string& side, int child,
                const std::vector<double>& leaves) {
  if (child > 0) {
    out << side + "_node" << child;
  } else {
    out << side + "_val" << leaves.at(static_cast<std::size_t>(-child));
  }
}

void writeFeature(cv::FileStorage& out, const cv::FileNode& feature) {
  out.startWriteStruct("feature", cv::FileNode::MAP);
  out.startWriteStruct("rects", cv::FileNode::SEQ);
  for (const cv::FileNode& rect : feature["rects"]) {
    const std::vector<double> r = numbers(rect);
    out.startWriteStruct("", cv::FileNode::SEQ | cv::FileNode::FLOW);
    out << static_cast<int>(r.at(0)) << static_cast<int>(r.at(1)) << static_cast<int>(r.at(2))
        << static_cast<int>(r.at(3)) << r.at(4);
    out.endWriteStruct();
  }
  out.endWriteStruct();
  out << "tilted" << static_cast<int>(feature["tilted"]);
  out.endWriteStruct();
}

void writeTree(cv::FileStorage& out, const cv::FileNode& weak, const cv::FileNode& features) {
  const std::vector<double> nodes = numbers(weak["internalNodes"]);
  const std::vector<double> leaves = numbers(weak["leafValues"]);
  out.startWriteStruct("", cv::FileNode::SEQ);
  // Each node is four numbers: left child, right child, feature index, threshold.
  for (std::size_t n = 0; n + 3 < nodes.size(); n += 4) {
    out.startWriteStruct("", cv::FileNode::MAP);
    writeFeature(out, features[static_cast<int>(nodes[n + 2])]);
    out << "threshold" << nodes[n + 3];
    writeChild(out, "left", static_cast<int>(nodes[n]), leaves);
    writeChild(out, "right", static_cast<int>(nodes[n + 1]), leaves);
    out.endWriteStruct();
  }
  out.endWriteStruct();
}

}  // namespace

void writeClassicCascade(const std::filesystem::path& from, const std::filesystem::path& to) {
  cv::FileStorage in(from.string(), cv::FileStorage::READ);
  const cv::FileNode cascade = in.getFirstTopLevelNode();
  ASSERT_EQ(static_cast<std::string>(cascade["featureType"]), "HAAR") << from;
  cv::FileStorage out(to.string(), cv::FileStorage::WRITE);
  out.startWriteStruct(from.stem().string(), cv::FileNode::MAP, "opencv-haar-classifier");
  out.startWriteStruct("size", cv::FileNode::SEQ | cv::FileNode::FLOW);
  out << static_cast<int>(cascade["width"]) << static_cast<int>(cascade["height"]);
  out.endWriteStruct();
  out.startWriteStruct("stages", cv::FileNode::SEQ);
  int index = 0;
  for (const cv::FileNode& stage : cascade["stages"]) {
    out.startWriteStruct("", cv::FileNode::MAP);
    out.startWriteStruct("trees", cv::FileNode::SEQ);
    for (const cv::FileNode& weak : stage["weakClassifiers"]) {
      writeTree(out, weak, cascade["features"]);
    }
    out.endWriteStruct();
    out << "stage_threshold" << static_cast<double>(stage["stageThreshold"]);
    // A plain chain of stages: each stage's parent is the one before it.
    out << "parent" << index++ - 1 << "next" << -1;
    out.endWriteStruct();
  }
  out.endWriteStruct();
  out.endWriteStruct();
}

}  // namespace cvcomp::test
