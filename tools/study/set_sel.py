from recipes import centred, concat, pca_white, grid
RECIPES = [
    ("13exp gap (current)", centred("block_13_expand_relu/gap"), False),
    ("13dw gap", centred("block_13_depthwise_relu/gap"), False),
    ("14add gap", centred("block_14_add/gap"), False),
    ("13exp pca16 s.5", pca_white("block_13_expand_relu/gap", 16, 0.5), False),
    ("13dw pca16 s.5", pca_white("block_13_depthwise_relu/gap", 16, 0.5), False),
    ("13dw pca32 s.5", pca_white("block_13_depthwise_relu/gap", 32, 0.5), False),
    ("14add pca16 s.5", pca_white("block_14_add/gap", 16, 0.5), False),
]
