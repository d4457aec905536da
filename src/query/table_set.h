#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "query/result_set.h"
#include "query/copied_columns.h"
#include "storage/buffer.h"
#include "storage/column_map_base.h"
#include "storage/node_config.h"
#include "storage/table_iterator.h"

class TreeTable;

// The result set over one tree table. The Buffer base holds one 12-byte row
// reference per stored row: the address of the node table holding the row,
// then the offset of the row's plain part in that node's buffer. Rows are
// read by putting the owned TableIterator back on a referenced row, so the
// table must outlive the result set and must not change while it is read.
class TableSet : public ResultSet, public Buffer {
 public:
  // Bytes of one row reference.
  static constexpr unsigned short kRowWidth = 12;

  // A set without iterator; setIterator must be called before rows are read.
  explicit TableSet(std::vector<unsigned short> selectedColumns = {});
  TableSet(std::unique_ptr<TableIterator> iterator, std::vector<unsigned short> selectedColumns);

  // Takes over the iterator, positioned before the table's first row.
  void setIterator(std::unique_ptr<TableIterator> iterator);
  const TreeTable& table() const { return *iterator_->table; }

  bool nextRow() override;
  void addCurrentRow() override;
  DATA_TYPE getSelectDataType(unsigned short k) override;
  bool selectMayBeNull(unsigned short k) override;
  std::string getSelectString(unsigned short k) override;
  std::string getString(unsigned short col) override;
  void* getSelectPointer(unsigned short k) override;
  void* getPointer(unsigned short col) override;
  void* getPointerPath(unsigned short col) override;
  const void* getPointerPathOrNull(unsigned short col) override;
  unsigned short getNumberOfSelectCols() override;
  unsigned short getNumberOfCols() override;
  void setRowDerived(unsigned int row) override;
  // After sort(): copies the selected values into result order, so that
  // selectPointers and selectRows read arrays instead of scattered rows.
  // Nothing happens without a permutation, nor when a row of the copy would
  // take more than kMaxCopiedRowBytes. The selected columns must not change
  // afterwards.
  void keepSortedValues();
  // The selected values of every stored row, in stored order, texts as
  // pointers; the texts of plain columns are marked to be copied when
  // `copyTexts` (see CopiedColumns). nullptr when a row of the copy would
  // take more than kMaxCopiedRowBytes. Valid while the table is unchanged.
  std::unique_ptr<CopiedColumns> copyStoredValues(bool copyTexts);
  // Most bytes a row of a copy may take: a fixed-width value its width, a
  // text its pointer.
  static constexpr size_t kMaxCopiedRowBytes = 64;
  // Reads the row references directly and finds each node's place of the
  // column once, without positioning the iterator for fixed-width values.
  void selectPointers(unsigned short k, uint32_t first, uint32_t end, const void** out) override;
  // Reads each row reference once for all selected columns.
  void selectRows(uint32_t first, uint32_t end, const void** out) override;
  // Describes a run of rows that lie in one node where they lie: a column
  // at a fixed offset in the rows as the rows' plain parts plus that
  // offset (its NULLs by the rows' null bits), a column the node's path
  // fixes as one value or as NULL. A sorted answer is read as ResultSet
  // reads it.
  uint32_t selectRun(uint32_t first, uint32_t end, ValueRun* runs, const void** scratch) override;
  // Describes, as selectRun does, `run` rows of `node` (at most
  // kMaxRunRows) whose plain parts start at plains[0 .. run), whether or
  // not the set stores them: runs[k] the k-th selected column's values.
  // `scratch` holds selectedColumns.size() * kMaxRunRows pointers, which
  // the runs may point into until the next call.
  void describeNodeRows(const NodeTable& node, const void* const* plains, uint32_t run, ValueRun* runs,
                        const void** scratch);
  // selectRows for stored rows rows[0 .. count) (not result positions):
  // the k-th selected column's values go to out[k * stride ...].
  void selectStored(const uint32_t* rows, uint32_t count, const void** out, size_t stride);
  // The category number that stored row `row` holds for categorised column
  // `col`, read without repositioning the iterator.
  unsigned short categoryNumberAt(uint32_t row, unsigned short col) const;
  // Receives the rows that pass a node-by-node filter, node by node in
  // the table's node order; the node's rows are numbered as in its
  // plainOffsets().
  class PassingRows {
   public:
    virtual ~PassingRows() = default;
    // Every row of `node` passes.
    virtual void wholeNode(NodeTable& node) = 0;
    // The rows of `node` whose bit is set in `bits` pass; `bits` is valid
    // only during the call.
    virtual void markedRows(NodeTable& node, const uint64_t* bits) = 0;
  };
  // Filters node by node as filterRows does but hands the passing rows to
  // `out` instead of storing them. False, with nothing handed, when the
  // filter cannot go node by node; the set itself does not change.
  bool visitPassingRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root, PassingRows& out);
  // Filters node by node: conditions on categorised columns that a node's
  // path fixes are answered once per node, and a node whose answer they
  // decide is skipped or taken whole without reading its rows. Rows are
  // stored in the order the iterator would yield them.
  void filterRows(std::vector<Condition*>& conditions, CombinedBooleanExpression& root) override;

  // Table column numbers of the selected columns, in select order.
  std::vector<unsigned short> selectedColumns;

 protected:
  std::unique_ptr<TableIterator> iterator_;

 private:
  // Where one selected column's value lies in the rows of a node.
  struct ColumnPlace {
    void* fixed = nullptr;  // the value, when the node's path fixes it,
    bool null = false;      // or whether the path fixes it as NULL;
    int32_t offset = -1;    // else its offset in a row's plain part,
    int32_t text = -1;      // or which of the row's texts it is,
    // or the values (by category number) of the number each row holds
    // `number` bytes from its plain part. All unset when the iterator
    // must find it.
    const void* const* decoded = nullptr;
    size_t decodedCount = 0;  // entries of `decoded`: a number past them is NULL
    ptrdiff_t number = 0;
    int32_t nullable = -1;  // its plain index when it may be NULL

    bool located() const { return fixed != nullptr || null || offset >= 0 || text >= 0 || decoded != nullptr; }
  };
  // The value a located `place` describes in the row whose plain part is
  // at `row` of a node with layout `layout`; nullptr for a NULL.
  static void* valueIn(const ColumnPlace& place, const char* row, const NodeConfig& layout) {
    if (place.fixed != nullptr) return place.fixed;
    if (place.null) return nullptr;
    if (place.nullable >= 0 && layout.isNull(row, static_cast<unsigned short>(place.nullable))) return nullptr;
    if (place.offset >= 0) return const_cast<char*>(row + place.offset);
    if (place.text >= 0) return const_cast<char*>(layout.stringAt(row, static_cast<unsigned short>(place.text)));
    const unsigned short number = NodeTable::categoryNumberAt(row + place.number);
    return number < place.decodedCount ? const_cast<void*>(place.decoded[number]) : nullptr;
  }

  // Whether filterRows can scan node by node: the iterator stands before
  // the first row and every condition reads a column of the table.
  bool filtersByNode(const std::vector<Condition*>& conditions) const;
  // The node and row offset that stored row `row`'s reference holds.
  std::pair<NodeTable*, uint32_t> reference(uint32_t row) const {
    const char* at = start() + static_cast<size_t>(row) * kRowWidth;
    NodeTable* node;
    uint32_t offset;
    std::memcpy(&node, at, sizeof node);
    std::memcpy(&offset, at + sizeof node, sizeof offset);
    return {node, offset};
  }
  // Where the selected columns' values lie in the rows of `node` (of the
  // current node when not given), worked out once per node.
  void placeColumns(const NodeTable* node);
  void placeColumns() { placeColumns(iterator_->node); }
  // Where the k-th selected column's value lies in the rows of `node`.
  ColumnPlace placeColumn(const NodeTable& node, size_t k);
  // The stored value of every category number of path position `index`,
  // nullptr for a number without one: as many entries as the highest
  // number the map assigns plus one (NULL_CATEGORY is past them), made on
  // first need and valid while the table is unchanged.
  const std::vector<const void*>& decodedValues(unsigned short index);
  // The longest run, at most kMaxRunRows, of stored rows rows[0 .. count)
  // that lie in one node: writes the start of each one's plain part to
  // plains[i], places the selected columns in that node and returns the
  // node and the run's length.
  std::pair<const NodeTable*, uint32_t> nodeRun(const uint32_t* rows, uint32_t count, const void** plains);
  // Fills runs[k], the k-th selected column's ValueRun for a run of `run`
  // rows of `node` whose plain parts start at plains[i]; `room` is the
  // column's kMaxRunRows pointers of scratch. runs[0 .. k) must describe
  // the same run. places_ must belong to `node`.
  void describeRun(size_t k, const NodeTable& node, const void* const* plains, uint32_t run, const void** room,
                   ValueRun* runs);
  // The null-bitmap byte `byte` of each row of a run, for the k-th
  // selected column: the flags an earlier column of runs[0 .. k) gathered
  // from that byte, or those gathered now into `room`.
  const uint8_t* nullFlags(size_t k, size_t byte, const NodeConfig& layout, const void* const* plains,
                           uint32_t run, const void** room, const ValueRun* runs) const;
  // The longest run, at most kMaxRunRows, of the stored rows from `first`
  // on (at most `count` of them) that lie in one node: nodeRun for rows
  // read in stored order, walking their references one after the other.
  std::pair<const NodeTable*, uint32_t> storedRun(uint32_t first, uint32_t count, const void** plains);
  // The run both take: referenceAt(i) is the address of the i-th row's
  // reference (node and offset). `Stepped` reads the references four at a
  // time, for references that lie one after the other: rows in another
  // order may end their run at any row, and each reference read past it
  // could be a miss of its own.
  template <bool Stepped, typename ReferenceAt>
  std::pair<const NodeTable*, uint32_t> runOfNode(uint32_t count, const void** plains, ReferenceAt referenceAt);
  // Asks the processor to start reading `bytes` bytes of rows from the
  // plain part of stored row `row` on (when row < end) into its caches. A
  // node's rows lie one after the other, so a run's bytes from the row
  // after it are about the next run's rows, whose misses then overlap the
  // work on this one.
  void readAhead(uint32_t row, uint32_t end, size_t bytes) const;
  // Writes pointers to the k-th selected column's values in a run of `run`
  // stored rows rows[0 .. run) of `node`, whose plain parts start at
  // plains[i], to out[0 .. run). places_ must belong to `node`; `rows` is
  // read only for a column the places do not locate.
  void pointRun(size_t k, const NodeTable& node, const void* const* plains, const uint32_t* rows, uint32_t run,
                const void** out);

  const NodeTable* placedNode_ = nullptr;          // node `places_` belongs to
  const std::vector<ColumnPlace>* places_ = nullptr;  // per selected column
  // Places per node path index, worked out on first need: sorted rows
  // visit the nodes in no order. Valid for the selected columns in
  // `placedColumns_`.
  std::vector<std::vector<ColumnPlace>> placesByPath_;
  std::vector<unsigned short> placedColumns_;
  std::vector<ColumnPlace> unplaced_;  // places when there is no node
  std::unique_ptr<CopiedColumns> sorted_;  // set by keepSortedValues
  std::vector<std::vector<const void*>> decoded_;  // per path position, see decodedValues
};
