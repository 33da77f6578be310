// Tensor views: BlobLine is a strided 2-D window on elements (rows of `width` used elements,
// `stride` apart) in host or platform memory, BlobPlane adds a stack of equal planes. Images keep
// their pixels in planes, tensors (host and IPU-backed) expose theirs as lines through
// FeatureMapInterface, which compares and copies any two feature maps of the same shape.
#pragma once

#include <memory>
#include <string>
#include <vector>

// A non-owning strided 2-D view of elements. Over platform memory it may map the block itself (and
// unmaps it when destroyed). Fields are public: images and tensors address rows through them.
// Instantiated for unsigned char, short, unsigned short, int, unsigned int, float and double.
// Not thread-safe; one writer at a time (the stage that claimed the resource).
template <typename Dtype>
class BlobLine {
 public:
  // View of host memory: `highDimS` rows of `width` used elements, `stride` elements apart.
  // Fatal unless width <= stride. `data` must outlive the view.
  BlobLine(Dtype* data, int highDimS, int stride, int width);
  // View of the platform block at physical address `phy` of `phy_capacity` bytes, which must hold
  // highDimS * stride elements (fatal otherwise). With `map` false `data` is its CPU address; with
  // `map` true `data` is ignored, the block is mapped (cached) here and unmapped by the destructor.
  // A failed mapping is fatal.
  BlobLine(Dtype* data, unsigned long long phy, int phy_capacity, int highDimS, int stride, int width,
           bool map);
  BlobLine(const BlobLine&) = delete;
  BlobLine& operator=(const BlobLine&) = delete;
  // Unmaps the block if this view mapped it; a failed unmapping is fatal.
  virtual ~BlobLine();

  // "highDimS = H, stride = S, width = W\n"; if `verbose`, then one line per row: the used
  // elements, "| ", the padding elements, each element followed by a blank.
  virtual std::string print(int verbose) const;

  // First element of row r.
  Dtype* row(int r) const { return data + static_cast<long long>(r) * stride; }
  // Same number of rows and of used elements per row (strides may differ).
  bool sameShape(const BlobLine<Dtype>& another) const {
    return highDimS == another.highDimS && width == another.width;
  }
  // Copies the used elements of every row of `another` into this view. Fatal unless sameShape.
  void copy_from(const BlobLine<Dtype>& another);

  Dtype* data;                  // first element (CPU address)
  unsigned long long phy_data;  // physical address of data; 0 for host memory
  bool mapped;                  // this view mapped the block and unmaps it
  int phy_capacity;             // bytes of the platform block; 0 for host memory
  int capacity;                 // highDimS * stride elements
  int highDimS;                 // rows: all dimensions but the last, multiplied
  int stride;                   // elements from one row to the next
  int width;                    // used elements per row

 protected:
  // Rows [first, first + count) in the verbose layout of print.
  std::string print_rows(int first, int count) const;
};

// A BlobLine that is a stack of `highDimHS` planes of `height` rows each (highDimS = highDimHS *
// height); plane p starts at row p * height.
// Not thread-safe; one writer at a time.
template <typename Dtype>
class BlobPlane : public BlobLine<Dtype> {
 public:
  // Host view; see BlobLine.
  BlobPlane(Dtype* data, int highDimHS, int height, int stride, int width);
  // Platform view; see BlobLine.
  BlobPlane(Dtype* data, unsigned long long phy, int phy_capacity, int highDimHS, int height, int stride,
            int width, bool map);
  ~BlobPlane() override;

  // "highDimHS = N, height = H, stride = S, width = W\n"; if `verbose`, every plane's rows as in
  // BlobLine::print, each plane followed by the line "------ ------".
  std::string print(int verbose) const override;

  // First element of plane p.
  Dtype* plane(int p) const { return this->row(p * height); }
  // Every plane: element (x, y) = another's (2x, 2y) for x < another.width / 2, y < another.height
  // / 2 (the top-left element of each 2x2 block, no averaging). Fatal unless another's width and
  // height are even and the halves fit in this view. Planes beyond the smaller count are untouched.
  void downsample_2_from(const BlobPlane<Dtype>& another);

  int highDimHS;  // planes: all dimensions but the last two, multiplied
  int height;     // rows per plane
};

// A feature map: any tensor that can show its elements as a line, so that host and IPU-backed
// tensors compare with each other. The operations are implemented once over underneath(); two maps
// have the same shape when their lines have equal rows and widths (strides may differ).
// Instantiated for unsigned char, short, int, unsigned int, float and double.
// Not thread-safe; a map is read after its writer published it.
template <typename T>
class FeatureMapInterface {
 public:
  // The elements; null while the map has no shape yet.
  virtual std::shared_ptr<BlobLine<T>> underneath() const = 0;
  virtual ~FeatureMapInterface();
  // Dimensions, outermost first.
  virtual std::vector<int> shape() const = 0;
  // Euclidean distance over the used elements. double maps sum in double; all others convert the
  // elements to float and sum each row, then the rows, in float. Fatal unless sameShape.
  virtual double distance(const FeatureMapInterface<T>& another) const;
  // Cosine similarity, dot / sqrt(sum a^2 * sum b^2), or dot / 0.0001 when that product is below
  // 1e-8. Sums in double for double maps, else in float. Fatal unless sameShape.
  virtual double similarity(const FeatureMapInterface<T>& another) const;
  // Copies the used elements of every row of `another`. Fatal unless sameShape.
  virtual void copy_from(const FeatureMapInterface<T>& another);

  bool sameShape(const FeatureMapInterface<T>& another) const;
};

extern template class BlobLine<unsigned char>;
extern template class BlobLine<short>;
extern template class BlobLine<unsigned short>;
extern template class BlobLine<int>;
extern template class BlobLine<unsigned int>;
extern template class BlobLine<float>;
extern template class BlobLine<double>;
extern template class BlobPlane<unsigned char>;
extern template class BlobPlane<short>;
extern template class BlobPlane<unsigned short>;
extern template class BlobPlane<int>;
extern template class BlobPlane<unsigned int>;
extern template class BlobPlane<float>;
extern template class BlobPlane<double>;
extern template class FeatureMapInterface<unsigned char>;
extern template class FeatureMapInterface<short>;
extern template class FeatureMapInterface<int>;
extern template class FeatureMapInterface<unsigned int>;
extern template class FeatureMapInterface<float>;
extern template class FeatureMapInterface<double>;
