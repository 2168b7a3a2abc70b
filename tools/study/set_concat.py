from recipes import centred, concat, grid
c = lambda k, **kw: centred(k + "/gap", **kw)
RECIPES = [
    ("13exp+13dw", concat([c("block_13_expand_relu"), c("block_13_depthwise_relu")]), False),
    ("13dw+14add", concat([c("block_13_depthwise_relu"), c("block_14_add")]), False),
    ("13exp+14add", concat([c("block_13_expand_relu"), c("block_14_add")]), False),
    ("12add+13dw+14add", concat([c("block_12_add"), c("block_13_depthwise_relu"), c("block_14_add")]), False),
    ("12add+14add", concat([c("block_12_add"), c("block_14_add")]), False),
    ("13dw+15add", concat([c("block_13_depthwise_relu"), c("block_15_add")]), False),
    ("13proj+14add+15add", concat([c("block_13_project_BN"), c("block_14_add"), c("block_15_add")]), False),
    ("10proj+13dw", concat([c("block_10_project_BN"), c("block_13_depthwise_relu")]), False),
    ("6proj+13dw", concat([c("block_6_project_BN"), c("block_13_depthwise_relu")]), False),
    ("8add+13dw+14add", concat([c("block_8_add"), c("block_13_depthwise_relu"), c("block_14_add")]), False),
    ("11..15 adds/proj", concat([c("block_11_add"), c("block_12_add"), c("block_13_project_BN"), c("block_14_add"), c("block_15_add")]), False),
    ("13dw gap+grid2 w.5", concat([c("block_13_depthwise_relu"), grid("block_13_depthwise_relu/grid2")], [1, 0.5]), False),
    ("13dw gap+grid2 w.7", concat([c("block_13_depthwise_relu"), grid("block_13_depthwise_relu/grid2")], [1, 0.7]), False),
    ("14add gap+grid2 w.5", concat([c("block_14_add"), grid("block_14_add/grid2")], [1, 0.5]), False),
    ("13exp gap+grid2 w.5", concat([c("block_13_expand_relu"), grid("block_13_expand_relu/grid2")], [1, 0.5]), False),
]
